#include "MessageUrl.h"

MessageUrl ComposeMessageUrl(const QString &address,
                             const QString &timeout,
                             const QString &caption,
                             const QString &body)
{
    return {QStringLiteral("http://") + address,
            QStringLiteral("/cgi-bin/xmessage?timeout=") + timeout + QStringLiteral("&caption=")
                + caption + QStringLiteral("&body=") + body};
}
