#include "Snippet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Only the canonical 8-4-4-4-12 form counts; QUuid alone would also take braces.
std::optional<QUuid> parseUuid(const QString &text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                         (c >= u'A' && c <= u'F');
        if (hyphenPlace ? c != u'-' : !hex)
            return std::nullopt;
    }
    const QUuid uuid = QUuid::fromString(text);
    if (uuid.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return uuid;
}

} // namespace

QByteArray encodeSnippets(const SnippetList &snippets)
{
    QJsonArray array;
    for (const Snippet &snippet : snippets) {
        // QJsonObject orders its members by name, which gives "id" before "text".
        array.append(QJsonObject{
            {QStringLiteral("id"), snippet.id.toString(QUuid::WithoutBraces).toUpper()},
            {QStringLiteral("text"), snippet.text},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<SnippetList> decodeSnippets(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    SnippetList snippets;
    const QJsonArray array = document.array();
    snippets.reserve(array.size());
    for (const QJsonValue &element : array) {
        if (!element.isObject())
            return std::nullopt;
        const QJsonObject object = element.toObject();
        const QJsonValue id = object.value(QLatin1String("id"));
        const QJsonValue text = object.value(QLatin1String("text"));
        if (!id.isString() || !text.isString())
            return std::nullopt;
        const std::optional<QUuid> uuid = parseUuid(id.toString());
        if (!uuid)
            return std::nullopt;
        snippets.append(Snippet{*uuid, text.toString()});
    }
    return snippets;
}
