#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

// One entry of the snippet list. Equal when both id and text are equal.
struct Snippet {
    Q_GADGET
    Q_PROPERTY(QUuid id MEMBER id)
    Q_PROPERTY(QString text MEMBER text)
public:
    QUuid id;
    QString text;

    friend bool operator==(const Snippet &, const Snippet &) = default;
};

using SnippetList = QList<Snippet>;

/// The stored form: one compact JSON array of {"id": upper-case UUID, "text": ...}.
QByteArray encodeSnippets(const SnippetList &snippets);

/// Strict decoding of the stored form; nothing when any element is malformed.
std::optional<SnippetList> decodeSnippets(const QByteArray &json);

Q_DECLARE_METATYPE(Snippet)
