#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What a receiver says about the last yes/no answer, in each language OpenWebif ships.
struct SpokenAnswers
{
    QString yes;
    QString no;
    QString noneYet;
};

// The texts of a language by its code ("en", "de", "pt_BR", …), or nothing when it is unknown.
std::optional<SpokenAnswers> SpokenAnswersIn(const QString &language);

// The codes of every language the simulator speaks.
QStringList SpokenLanguages();
