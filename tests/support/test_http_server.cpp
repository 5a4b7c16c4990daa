#include "test_http_server.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTimer>

namespace {

// Often enough that a client sees its received count grow for as long as it listens.
const int kEndlessBodyIntervalMs = 20;

QTcpServer* makeServer(const QString& certificate_path, const QString& key_path)
{
    if (certificate_path.isEmpty())
        return new QTcpServer;
    QFile key(key_path);
    key.open(QIODevice::ReadOnly);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(QSslCertificate::fromPath(certificate_path).value(0));
    configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
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
    head += response.ending == ResponseEnding::EndlessUnannounced
        ? QByteArray("Connection: close\r\n")
        : "Content-Length: " + QByteArray::number(announced) + "\r\n";
    for (const auto& [name, value] : response.extra_headers)
        head += name + ": " + value + "\r\n";
    return head + "\r\n";
}

void answer(QTcpSocket* socket, const TestHttpResponse& response)
{
    socket->write(responseHead(response));
    if (response.ending != ResponseEnding::StallAfterHeaders)
        socket->write(response.ending == ResponseEnding::CloseMidBody ? response.body.left(response.body.size() / 2)
                                                                      : response.body);
    if (response.ending == ResponseEnding::CloseMidBody)
        socket->disconnectFromHost();
    if (response.ending == ResponseEnding::EndlessUnannounced) {
        auto* more = new QTimer(socket); // goes with the connection
        QObject::connect(more, &QTimer::timeout, socket, [socket, body = response.body] { socket->write(body); });
        more->start(kEndlessBodyIntervalMs);
    }
}

} // namespace

TestHttpServer::TestHttpServer(const QString& certificate_path, const QString& key_path)
    : server_(makeServer(certificate_path, key_path)), encrypted_(!certificate_path.isEmpty())
{
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &TestHttpServer::acceptConnections);
}

void TestHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Several requests may arrive on one kept-alive connection, also in one read.
        const auto read = [this, socket, input = std::make_shared<QByteArray>()] {
            *input += socket->readAll();
            for (qsizetype end = input->indexOf("\r\n\r\n"); end >= 0; end = input->indexOf("\r\n\r\n")) {
                requests_.append(parseRequestHead(input->left(end)));
                input->remove(0, end + 4);
                answer(socket, responses_.value(QString::fromUtf8(requests_.last().path), {404, "Not Found"}));
            }
        };
        connect(socket, &QTcpSocket::readyRead, this, read);
        read();
    }
}

bool trustCertificateAuthority(const QString& ca_path)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const bool added = configuration.addCaCertificates(ca_path);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return added;
}
