#include "AnswerMeaning.h"
#include "AnswerTexts.h"

std::optional<AnswerText> RecognizeAnswerText(const QString &text)
{
    // Older versions of the maker's web interface said this while nobody had answered.
    const QString said = text.trimmed();
    if (said == QLatin1String("No answer yet"))
        return AnswerText::NoneYet;
    for (const QString &code : AnswerTextLanguages()) {
        const std::optional<AnswerTexts> texts = AnswerTextsOf(code);
        if (said == texts->yes)
            return AnswerText::Yes;
        if (said == texts->no)
            return AnswerText::No;
        if (said == texts->noneYet)
            return AnswerText::NoneYet;
    }
    return std::nullopt;
}
