#pragma once

#include <QString>

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
