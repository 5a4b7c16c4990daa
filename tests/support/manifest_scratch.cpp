#include "manifest_scratch.h"

#include <QTcpSocket>

const char kTestManifestPath[] = "/firmware/downloads_manifest.json";

bool ManifestScratch::start(const QString& tls_dir)
{
    home_.reset(new ScratchHome);
    servers_[0].reset(
        new TestHttpServer(tls_dir + QStringLiteral("/server.pem"), tls_dir + QStringLiteral("/server.key")));
    servers_[1].reset(
        new TestHttpServer(tls_dir + QStringLiteral("/untrusted.pem"), tls_dir + QStringLiteral("/untrusted.key")));
    servers_[2].reset(new TestHttpServer);
    // Listens, and never takes a connection: the system accepts it and
    // nobody answers, as behind a filtering firewall.
    silent_server_.reset(new QTcpServer);
    original_working_dir_ = QDir::currentPath();
    return home_->isValid() && trustCertificateAuthority(tls_dir + QStringLiteral("/ca.pem")) && servers_[0]->listen()
           && servers_[1]->listen() && servers_[2]->listen() && silent_server_->listen(QHostAddress::LocalHost, 0);
}

bool ManifestScratch::reset()
{
    for (auto& server : servers_)
        server->clear();
    memory_copy_.clear();
    network_record_ = ManifestNetworkRecord();
    silentConnections();
    qDeleteAll(silent_connections_);
    silent_connections_.clear();
    manifest_url = server().url(QLatin1String(kTestManifestPath));
    scratch_.reset(new QTemporaryDir);
    application_dir_ = scratch_->filePath(QStringLiteral("install/bin"));
    const QString working_dir = scratch_->filePath(QStringLiteral("work"));
    return scratch_->isValid() && QDir(firmwareCacheDirectory()).removeRecursively() && QDir().mkpath(application_dir_)
           && QDir().mkpath(working_dir) && QDir::setCurrent(working_dir);
}

int ManifestScratch::silentConnections()
{
    while (QTcpSocket* socket = silent_server_->nextPendingConnection())
        silent_connections_.append(socket);
    return int(silent_connections_.size());
}

bool writeWholeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
