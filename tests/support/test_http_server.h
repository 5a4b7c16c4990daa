#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

// How the server ends one answer.
enum class ResponseEnding {
    Complete,          // headers and the whole body
    StallAfterHeaders, // headers announcing the body, then silence with the connection open
    CloseMidBody,      // headers announcing the body, half of it, then the connection closed
    EndlessUnannounced, // headers without a length, then the body over and over, without end
};

// What the server answers for one path.
struct TestHttpResponse {
    int status = 200;
    QByteArray reason = "OK";
    QByteArray body = {};
    QList<QPair<QByteArray, QByteArray>> extra_headers = {};
    ResponseEnding ending = ResponseEnding::Complete;
    qint64 announced_length = -1; // the Content-Length sent; -1: the body's own
};

// One request as it arrived; header names are kept as the client wrote them.
struct TestHttpRequest {
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray header(const QByteArray& name) const
    {
        const auto found = std::find_if(headers.begin(), headers.end(),
                                        [&](const auto& h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
        return found == headers.end() ? QByteArray() : found->second;
    }
};

// A small HTTP/1.1 server on 127.0.0.1 for the tests' own process, over TLS
// with a test certificate or in plain text. It runs on the thread that made
// it, so a nested event loop of the code under test serves it. Paths without
// an answer get 404.
class TestHttpServer : public QObject
{
public:
    // Plain HTTP without a certificate; HTTPS with the PEM certificate and key at these paths.
    TestHttpServer(const QString& certificate_path = QString(), const QString& key_path = QString());

    bool listen() { return server_->listen(QHostAddress::LocalHost, 0); }
    // "https://127.0.0.1:<port><path>" (or http for a plain server).
    QString url(const QString& path) const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(encrypted_ ? "https" : "http")
            .arg(server_->serverPort())
            .arg(path);
    }

    void setResponse(const QString& path, const TestHttpResponse& response) { responses_.insert(path, response); }
    void serve(const QString& path, const QByteArray& body) { setResponse(path, {200, "OK", body}); }
    void answerStatus(const QString& path, int status, const QByteArray& reason)
    {
        setResponse(path, {status, reason, reason});
    }
    void redirect(const QString& path, const QString& location)
    {
        setResponse(path, {302, "Found", {}, {{"Location", location.toUtf8()}}});
    }
    // Forgets every answer and every recorded request.
    void clear()
    {
        responses_.clear();
        requests_.clear();
    }

    QList<TestHttpRequest> requests() const { return requests_; }
    int requestCount(const QString& path) const
    {
        return int(std::count_if(requests_.begin(), requests_.end(),
                                 [&](const TestHttpRequest& r) { return r.path == path.toUtf8(); }));
    }

private:
    void acceptConnections();

    std::unique_ptr<QTcpServer> server_;
    bool encrypted_;
    QHash<QString, TestHttpResponse> responses_;
    QList<TestHttpRequest> requests_;
};

// Adds the certificate authority in this PEM file to the default TLS
// configuration, so every connection made afterwards trusts what it issued.
bool trustCertificateAuthority(const QString& ca_path);
