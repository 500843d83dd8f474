#pragma once

#include <QString>

// The receiver's message URL: the four values joined exactly as typed, nothing escaped.
QString ComposeMessageUrl(const QString &address,
                          const QString &timeout,
                          const QString &caption,
                          const QString &body);

// The same URL's path and query, without scheme and address: what the first-generation request
// asks for, whatever the address holds.
QString ComposeMessageTarget(const QString &timeout, const QString &caption, const QString &body);
