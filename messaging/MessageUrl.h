#pragma once

#include <QString>

// The receiver's message URL: the four values joined exactly as typed, nothing escaped.
QString ComposeMessageUrl(const QString &address,
                          const QString &timeout,
                          const QString &caption,
                          const QString &body);
