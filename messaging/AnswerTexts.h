#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What a receiver's text about the last yes/no answer says. Receivers translate it into their
// own language, so it is looked up among the texts of every language they ship; a text found
// in none is not understood, and never guessed at.
enum class AnswerText {
    Yes,    // a person chose Yes
    No,     // a person chose No
    NoneYet // nobody has answered
};

std::optional<AnswerText> RecognizeAnswerText(const QString &text);

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
