#include "XmlAnswer.h"

#include <QList>
#include <QXmlStreamReader>

#include <utility>

std::optional<QHash<QString, QString>> XmlElements(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    QHash<QString, QString> elements;
    QList<std::pair<QString, QString>> open; // names and texts of the elements being read
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            return std::nullopt;
        case QXmlStreamReader::StartElement:
            open.append({reader.name().toString(), QString()});
            break;
        case QXmlStreamReader::Characters:
            for (auto &element : open)
                element.second += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            if (!open.isEmpty()) {
                const auto [name, text] = open.takeLast();
                if (!elements.contains(name))
                    elements.insert(name, text.trimmed());
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return std::nullopt;
    return elements;
}
