#include "manifest_scratch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

const char kTestManifestPath[] = "/firmware/downloads_manifest.json";

bool ManifestScratch::start(const QString& tls_dir)
{
    home_.reset(new ScratchHome);
    server_.reset(new TestHttpServer(tls_dir + QStringLiteral("/server.pem"), tls_dir + QStringLiteral("/server.key")));
    untrusted_server_.reset(
        new TestHttpServer(tls_dir + QStringLiteral("/untrusted.pem"), tls_dir + QStringLiteral("/untrusted.key")));
    plain_server_.reset(new TestHttpServer);
    original_working_dir_ = QDir::currentPath();
    return home_->isValid() && trustCertificateAuthority(tls_dir + QStringLiteral("/ca.pem")) && server_->listen()
           && untrusted_server_->listen() && plain_server_->listen();
}

bool ManifestScratch::reset()
{
    server_->clear();
    untrusted_server_->clear();
    plain_server_->clear();
    memory_copy_.clear();
    manifest_url = server_->url(QLatin1String(kTestManifestPath));
    scratch_.reset(new QTemporaryDir);
    application_dir_ = scratch_->filePath(QStringLiteral("install/bin"));
    const QString working_dir = scratch_->filePath(QStringLiteral("work"));
    return scratch_->isValid() && QDir(firmwareCacheDirectory()).removeRecursively() && QDir().mkpath(application_dir_)
           && QDir().mkpath(working_dir) && QDir::setCurrent(working_dir);
}

void ManifestScratch::leave()
{
    QDir::setCurrent(original_working_dir_);
}

ManifestSources ManifestScratch::sources(int timeout_ms)
{
    return {manifest_url, timeout_ms, application_dir_, &memory_copy_};
}

int fetchTimeoutFor(const QString& behaviour)
{
    return behaviour == QLatin1String("stall after headers") ? ManifestScratch::kStallTimeoutMs
                                                             : ManifestScratch::kGenerousTimeoutMs;
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

QString cachedManifestFile()
{
    return firmwareCacheDirectory() + QStringLiteral("/downloads_manifest.json");
}
