#include "XmlAnswer.h"

#include <QXmlStreamReader>

std::optional<QHash<QString, QString>> XmlElements(const QByteArray &xml, const QStringList &wanted)
{
    QXmlStreamReader reader(xml);
    QHash<QString, QString> elements;
    QString name;       // the wanted element being read, if any
    QString text;       // its text so far
    int depth = 0;      // of the element being read
    int readingAt = -1; // the depth of the wanted element being read
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            return std::nullopt;
        case QXmlStreamReader::StartElement:
            ++depth;
            if (readingAt < 0 && wanted.contains(reader.name())
                && !elements.contains(reader.name().toString())) {
                name = reader.name().toString();
                text.clear();
                readingAt = depth;
            }
            break;
        case QXmlStreamReader::Characters:
            if (readingAt >= 0 && text.size() < MaxElementText)
                text += reader.text().left(MaxElementText - text.size());
            break;
        case QXmlStreamReader::EndElement:
            if (depth-- == readingAt) {
                elements.insert(name, text.trimmed());
                readingAt = -1;
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
