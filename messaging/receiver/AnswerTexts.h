#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The texts receivers give for the last yes/no answer, in each language they ship: what the
// simulator speaks, and what Quillora recognises.

// The three texts in one language.
struct AnswerTexts
{
    QString yes;
    QString no;
    QString noneYet;
};

// The texts of a language by its code ("en", "de", "pt_BR", …), or nothing when it is not known.
std::optional<AnswerTexts> AnswerTextsOf(const QString &language);

// The codes of every language the table holds.
QStringList AnswerTextLanguages();
