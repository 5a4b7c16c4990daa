#include "test_http_server.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QTcpServer* makeServer(const QString& certificate_path, const QString& key_path)
{
    if (certificate_path.isEmpty())
        return new QTcpServer;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(fileBytes(certificate_path), QSsl::Pem));
    configuration.setPrivateKey(QSslKey(fileBytes(key_path), QSsl::Ec, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto* server = new QSslServer;
    server->setSslConfiguration(configuration);
    return server;
}

// "Request-Line CRLF *(Header CRLF)"; the body of a GET is empty.
TestHttpRequest parseRequestHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> request_line = lines.value(0).trimmed().split(' ');
    TestHttpRequest request{request_line.value(0), request_line.value(1), {}};
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return request;
}

QByteArray responseHead(const TestHttpResponse& response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason + "\r\n";
    const qint64 announced = response.announced_length >= 0 ? response.announced_length : response.body.size();
    head += response.ending == ResponseEnding::CloseUnannounced ? QByteArray("Connection: close\r\n")
                                                                 : "Content-Length: " + QByteArray::number(announced) + "\r\n";
    for (const auto& header : response.extra_headers)
        head += header.first + ": " + header.second + "\r\n";
    return head + "\r\n";
}

} // namespace

QByteArray TestHttpRequest::header(const QByteArray& name) const
{
    for (const auto& entry : headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0)
            return entry.second;
    }
    return QByteArray();
}

TestHttpServer::TestHttpServer(const QString& certificate_path, const QString& key_path)
    : server_(makeServer(certificate_path, key_path))
{
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &TestHttpServer::acceptConnections);
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::listen()
{
    return server_->listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::url(const QString& path) const
{
    const bool encrypted = qobject_cast<QSslServer*>(server_.get()) != nullptr;
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(encrypted ? "https" : "http").arg(server_->serverPort()).arg(path);
}

void TestHttpServer::clear()
{
    responses_.clear();
    requests_.clear();
}

int TestHttpServer::requestCount(const QString& path) const
{
    return int(std::count_if(requests_.begin(), requests_.end(),
                             [&](const TestHttpRequest& request) { return request.path == path.toUtf8(); }));
}

void TestHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            pending_input_.remove(socket);
            socket->deleteLater();
        });
        readRequests(socket);
    }
}

// Several requests may arrive on one kept-alive connection, also in one read.
void TestHttpServer::readRequests(QTcpSocket* socket)
{
    QByteArray& input = pending_input_[socket];
    input += socket->readAll();
    for (qsizetype end = input.indexOf("\r\n\r\n"); end >= 0; end = input.indexOf("\r\n\r\n")) {
        requests_.append(parseRequestHead(input.left(end)));
        input.remove(0, end + 4);
        answer(socket, requests_.last());
    }
}

void TestHttpServer::answer(QTcpSocket* socket, const TestHttpRequest& request)
{
    const TestHttpResponse response =
        responses_.value(QString::fromUtf8(request.path), {404, "Not Found", {}});
    socket->write(responseHead(response));
    if (response.ending == ResponseEnding::Complete || response.ending == ResponseEnding::CloseUnannounced)
        socket->write(response.body);
    else if (response.ending == ResponseEnding::CloseMidBody)
        socket->write(response.body.left(response.body.size() / 2));
    if (response.ending == ResponseEnding::CloseUnannounced || response.ending == ResponseEnding::CloseMidBody)
        socket->disconnectFromHost();
}

bool trustCertificateAuthority(const QString& ca_path)
{
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(ca_path, QSsl::Pem);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return !authorities.isEmpty();
}
