#pragma once

#include <QString>

// The receiver's message URL, its eight pieces joined exactly as typed, nothing escaped: where it
// goes (the scheme and the address) and what it asks for (the path and the query, which the
// first-generation request sends whatever the address holds).
struct MessageUrl
{
    QString schemeAndAddress;
    QString target;

    QString text() const { return schemeAndAddress + target; }
};

MessageUrl ComposeMessageUrl(const QString &address,
                             const QString &timeout,
                             const QString &caption,
                             const QString &body);
