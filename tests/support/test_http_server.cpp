#include "test_http_server.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QSslConfiguration serverTlsConfiguration(const QString& certificate_path, const QString& key_path)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate(readWholeFile(certificate_path), QSsl::Pem));
    configuration.setPrivateKey(QSslKey(readWholeFile(key_path), QSsl::Ec, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

// Splits "Request-Line CRLF *(Header CRLF)" into a request; the body of a GET is empty.
TestHttpRequest parseRequestHead(const QByteArray& head)
{
    TestHttpRequest request;
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> request_line = lines.value(0).trimmed().split(' ');
    request.method = request_line.value(0);
    request.path = request_line.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
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
    if (response.ending == ResponseEnding::CloseUnannounced)
        head += "Connection: close\r\n";
    else
        head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
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

TestHttpServer::TestHttpServer() : server_(new QTcpServer), encrypted_(false)
{
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &TestHttpServer::acceptConnections);
}

TestHttpServer::TestHttpServer(const QString& certificate_path, const QString& key_path)
    : encrypted_(true)
{
    auto* tls_server = new QSslServer;
    tls_server->setSslConfiguration(serverTlsConfiguration(certificate_path, key_path));
    server_.reset(tls_server);
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &TestHttpServer::acceptConnections);
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::listen()
{
    return server_->listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(encrypted_ ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(server_->serverPort())
        .arg(path);
}

void TestHttpServer::setResponse(const QString& path, const TestHttpResponse& response)
{
    responses_.insert(path, response);
}

void TestHttpServer::serve(const QString& path, const QByteArray& body)
{
    TestHttpResponse response;
    response.body = body;
    setResponse(path, response);
}

void TestHttpServer::answerStatus(const QString& path, int status, const QByteArray& reason)
{
    TestHttpResponse response;
    response.status = status;
    response.reason = reason;
    response.body = reason;
    setResponse(path, response);
}

void TestHttpServer::redirect(const QString& path, const QString& location)
{
    TestHttpResponse response;
    response.status = 302;
    response.reason = "Found";
    response.extra_headers.append({"Location", location.toUtf8()});
    setResponse(path, response);
}

void TestHttpServer::clear()
{
    responses_.clear();
    requests_.clear();
}

QList<TestHttpRequest> TestHttpServer::requests() const
{
    return requests_;
}

int TestHttpServer::requestCount(const QString& path) const
{
    int count = 0;
    for (const TestHttpRequest& request : requests_)
        count += request.path == path.toUtf8() ? 1 : 0;
    return count;
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
        const TestHttpRequest request = parseRequestHead(input.left(end));
        input.remove(0, end + 4);
        requests_.append(request);
        answer(socket, request);
    }
}

void TestHttpServer::answer(QTcpSocket* socket, const TestHttpRequest& request)
{
    TestHttpResponse response;
    response.status = 404;
    response.reason = "Not Found";
    response = responses_.value(QString::fromUtf8(request.path), response);

    socket->write(responseHead(response));
    switch (response.ending) {
    case ResponseEnding::Complete:
        socket->write(response.body);
        break;
    case ResponseEnding::StallAfterHeaders:
        break;
    case ResponseEnding::CloseUnannounced:
        socket->write(response.body);
        socket->disconnectFromHost();
        break;
    case ResponseEnding::CloseMidBody:
        socket->write(response.body.left(response.body.size() / 2));
        socket->disconnectFromHost();
        break;
    }
}

bool trustCertificateAuthority(const QString& ca_path)
{
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(ca_path, QSsl::Pem);
    if (authorities.isEmpty())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}
