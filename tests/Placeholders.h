#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <utility>

// A test table's placeholders ("ADDR", "INI", …) and what each stands for in this run.
using Placeholders = QList<std::pair<QString, QString>>;

// The text with every placeholder filled in one pass from left to right, so that what one of them
// stands for (a folder's random name, say) is never read again for another. Where two start at
// the same place, the first listed wins.
inline QString Filled(const QString &text, const Placeholders &values)
{
    QString result;
    for (qsizetype at = 0; at < text.size();) {
        const auto match = std::find_if(values.cbegin(), values.cend(), [&](const auto &value) {
            return QStringView(text).sliced(at).startsWith(value.first);
        });
        if (match == values.cend()) {
            result += text[at++];
            continue;
        }
        result += match->second;
        at += match->first.size();
    }
    return result;
}

inline QStringList Filled(QStringList texts, const Placeholders &values)
{
    for (QString &text : texts)
        text = Filled(text, values);
    return texts;
}
