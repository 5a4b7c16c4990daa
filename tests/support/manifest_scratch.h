#pragma once

#include <QDir>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

#include "firmware_manifest.h"
#include "scratch_home.h"
#include "test_http_server.h"

extern const char kTestManifestPath[];

// Everything a manifest or package test needs around the module: a scratch
// home (so the per-user cache is scratch space), trust in the test authority,
// an HTTPS server with a trusted certificate, one with an untrusted
// certificate and a plain HTTP one, all on 127.0.0.1, a scratch program
// directory and working directory, and the sources that point the module at
// them instead of the program's fixed ones.
class ManifestScratch
{
public:
    // Loopback answers in milliseconds; this only bounds a broken run.
    static const int kGenerousTimeoutMs = 20000;
    // Only for a server that stalls on purpose: the fetch can end no other
    // way, so a short limit keeps the suite quick without making it flaky.
    static const int kStallTimeoutMs = 1500;

    // Once per test case; tls_dir holds the test certificates.
    bool start(const QString& tls_dir);
    // Before each test: no answers, no requests, no memory copy, the server
    // not yet asked in this run, an empty cache, fresh program and working
    // directories (the latter made current).
    bool reset();
    // After each test: the working directory the test case started in.
    void leave() { QDir::setCurrent(original_working_dir_); }

    ManifestSources sources(int timeout_ms = kGenerousTimeoutMs)
    {
        return {manifest_url, timeout_ms, application_dir_, &memory_copy_, &network_record_};
    }

    TestHttpServer& server() { return *servers_[0]; }
    TestHttpServer& untrustedServer() { return *servers_[1]; }
    TestHttpServer& plainServer() { return *servers_[2]; }
    QByteArray& memoryCopy() { return memory_copy_; }
    // An address on 127.0.0.1 where a connection is accepted and never answered.
    QString silentUrl() const
    {
        return QStringLiteral("https://127.0.0.1:%1%2")
            .arg(silent_server_->serverPort())
            .arg(QLatin1String(kTestManifestPath));
    }
    // Connections made to that address so far.
    int silentConnections();
    QString applicationDir() const { return application_dir_; }
    QString scratchPath(const QString& relative) const { return scratch_->filePath(relative); }

    // The address the sources fetch the manifest from; the trusted server's by default.
    QString manifest_url;

private:
    std::unique_ptr<ScratchHome> home_;
    std::unique_ptr<TestHttpServer> servers_[3];
    std::unique_ptr<QTemporaryDir> scratch_;
    QString application_dir_;
    QString original_working_dir_;
    std::unique_ptr<QTcpServer> silent_server_;
    QList<QTcpSocket*> silent_connections_;
    QByteArray memory_copy_;
    ManifestNetworkRecord network_record_;
};

// The time-out for a fetch in a row named `behaviour`: the short one for a
// server that stalls after its headers, the generous one for every other,
// so a busy machine never turns an answer into a time-out.
inline int fetchTimeoutFor(const QString& behaviour)
{
    return behaviour == QLatin1String("stall after headers") ? ManifestScratch::kStallTimeoutMs
                                                             : ManifestScratch::kGenerousTimeoutMs;
}

// Writes the whole file, making its directory first.
bool writeWholeFile(const QString& path, const QByteArray& bytes);
// The whole file, or "<missing>" when it cannot be read.
QByteArray readWholeFile(const QString& path);
// The cached manifest inside the per-user cache.
inline QString cachedManifestFile()
{
    return firmwareCacheDirectory() + QStringLiteral("/downloads_manifest.json");
}
