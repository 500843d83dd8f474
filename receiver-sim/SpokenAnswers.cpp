#include "SpokenAnswers.h"

namespace {

// Copied from OpenWebif's gettext catalogue of each language, locale/<code>.po, entries
// "Answer is YES!", "Answer is NO!" and "No answer in time", spelling slips included; "en" is
// what plugin/controllers/models/message.py and the maker's web interface say.
struct Language
{
    const char *code;
    const char *yes;
    const char *no;
    const char *none;
};

constexpr Language Languages[] = {
    {"en", "Answer is YES!", "Answer is NO!", "No answer in time"},
    {"ar", "الإجابة هي نعم!", "الإجابة هي لا!", "لا جواب في الوقت المناسب"},
    {"bg", "Отговора е ДА!", "Отговора е НЕ!", "Няма отговор навреме"},
    {"ca", "¡La resposta és SI!", "¡La resposta és NO!", "Sense resposta a temps"},
    {"cs", "Odpověď je ANO!", "Odpověď je NE!", "Žádná odpověď v čase"},
    {"da", "Svaret er JA!", "Svaret er NEJ!", "Ingen svar i tide"},
    {"de", "Antwort lautet JA!", "Antwort lautet NEIN!", "Keine rechtzeitige Antwort"},
    {"el", "Η απάντηση είναι ΝΑΙ!", "Η απάντηση είναι ΟΧΙ!", "Μη έγκαιρη απάντηση"},
    {"es",
     "¡La respuesta es SI!",
     "¡La respuesta es NO!",
     "Sin respuesta en el tiempo de espera..."},
    {"et", "Vastus - JAH!", "Vastus - EI!", "Ajavaru piires vastus puudub"},
    {"fi", "Vastaus on KYLLÄ!", "Vastaus on EI!", "Ei vastausta ajoissa"},
    {"fr", "La réponse est OUI!", "La réponse est NON!", "Pas de réponse dans le délai imparti"},
    {"hu", "A válasz IGEN!", "A válasz NEM!", "Nincs válasz időben"},
    {"it", "La risposta è SÌ.", "La risposta è NO.", "Nessuna risposta tempestiva"},
    {"lt", "Atsakymas TAIP!", "Atsakymas NE!", "Nėra atsako ilgą laiką"},
    {"nb", "Svaret er JA!", "Svaret er NEI!", "Ingen svar i tide"},
    {"pl", "Odpowiedź: TAK!", "Odpowiedź: NIE!", "Brak odpowiedzi w czasie"},
    {"pt", "A resposta é SIM!", "A resposta é NÂO!", "Sem reposta no tempo"},
    {"ru", "Ответ - ДА!", "Ответ - НЕТ!", "Нет ответа в срок"},
    {"sk", "Odpoveď je ÁNO!", "Odpoveď je NIE!", "Žiadna odpoveď načas"},
    {"sv", "Svaret är JA!", "Svaret är NEJ!", "Svaret kom inte i tid"},
    {"tr", "Cevap EVET!", "Cevap HAYIR!", "Zamanında yanıt yok"},
    {"uk", "Відповідь - ТАК!", "Відповідь - НІ!", "Немає відповіді довгий час"},
    {"zh_CN", "是！", "否！", "无响应"},
};

} // namespace

std::optional<SpokenAnswers> SpokenAnswersIn(const QString &language)
{
    for (const Language &known : Languages)
        if (language == QLatin1String(known.code))
            return SpokenAnswers{QString::fromUtf8(known.yes),
                                 QString::fromUtf8(known.no),
                                 QString::fromUtf8(known.none)};
    return std::nullopt;
}

QStringList SpokenLanguages()
{
    QStringList codes;
    for (const Language &known : Languages)
        codes += QLatin1String(known.code);
    return codes;
}
