#pragma once

#include "ReceiverSim.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#ifdef Q_OS_WIN
// wincrypt.h builds on the types windows.h declares.
#include <windows.h>

#include <wincrypt.h>
#endif

// Puts a receiver of the test's behind HTTPS with one of the certificates made for the tests.
// The receiver serves TLS itself, but under Wine: Wine 8's Schannel can't serve TLS (its
// CertFindChainInStore is a stub), so there socat, a program of the machine Wine runs on, serves
// it in front of the receiver, and the receiver still sees every request. Quillora's side, the
// client, is Windows' own either way.
class TlsFront
{
public:
    static QSslCertificate certificate(const QString &name)
    {
        return QSslCertificate::fromPath(QUILLORA_CERTIFICATES "/" + name + ".pem").value(0);
    }

    static QSslKey key(const QString &name)
    {
        QFile file(QUILLORA_CERTIFICATES "/" + name + ".key");
        return file.open(QIODevice::ReadOnly) ? QSslKey(&file, QSsl::Rsa) : QSslKey();
    }

    static bool underWine()
    {
#ifdef Q_OS_WIN
        return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
        return false;
#endif
    }

    // Serves HTTPS for receiver with the named certificate; port() is where.
    TlsFront(ReceiverSim &receiver, const QString &name)
    {
        if (!underWine()) {
            receiver.serveTls(certificate(name), key(name));
            m_port = receiver.serverPort();
            return;
        }
        QTcpServer probe; // a free port for socat
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        m_socat = std::make_unique<QProcess>();
        const QString folder = QUILLORA_CERTIFICATES;
        m_socat->start("/usr/bin/socat",
                       {"-lf",
                        "/dev/null", // the knocks below are no handshakes
                        "OPENSSL-LISTEN:" + QString::number(m_port)
                            + ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + folder + "/" + name
                            + ".pem,key=" + folder + "/" + name + ".key",
                        "TCP:127.0.0.1:" + QString::number(receiver.serverPort())});
        // Ready once it takes connections.
        for (int i = 0; i < 100; ++i) {
            QTcpSocket knock;
            knock.connectToHost(QHostAddress::LocalHost, m_port);
            if (knock.waitForConnected(100))
                return;
            QTest::qWait(50);
        }
        qWarning("socat did not start serving TLS on port %d", int(m_port));
    }

    // Makes the tests' authority one the system trusts. Elsewhere the test's own configuration
    // stands for the system's store; Schannel takes only the system's store, so under Wine it is
    // added to the user's root certificates of the test's Wine prefix, where nothing asks first.
    static void trustAuthority(const QSslCertificate &authority)
    {
#ifdef Q_OS_WIN
        if (underWine()) {
            const QByteArray der = authority.toDer();
            HCERTSTORE root = CertOpenSystemStoreW(0, L"ROOT");
            CertAddEncodedCertificateToStore(root,
                                             X509_ASN_ENCODING,
                                             reinterpret_cast<const BYTE *>(der.constData()),
                                             DWORD(der.size()),
                                             CERT_STORE_ADD_REPLACE_EXISTING,
                                             nullptr);
            CertCloseStore(root, 0);
            return;
        }
#endif
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(authority);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    ~TlsFront()
    {
        if (m_socat)
            m_socat->kill();
    }

    quint16 port() const
    {
        return m_port;
    }

private:
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_socat;
};
