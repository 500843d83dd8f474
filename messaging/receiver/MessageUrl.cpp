#include "MessageUrl.h"

QString ComposeMessageUrl(const QString &address,
                          const QString &timeout,
                          const QString &caption,
                          const QString &body)
{
    return QStringLiteral("http://") + address + ComposeMessageTarget(timeout, caption, body);
}

QString ComposeMessageTarget(const QString &timeout, const QString &caption, const QString &body)
{
    return QStringLiteral("/cgi-bin/xmessage?timeout=") + timeout + QStringLiteral("&caption=")
           + caption + QStringLiteral("&body=") + body;
}
