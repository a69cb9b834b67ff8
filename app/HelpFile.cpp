#include "HelpFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <optional>

namespace pixhold::app {
namespace {

[[noreturn]] void Fail(int line, const QString& why) {
    throw EHelpFileError(QStringLiteral("line %1: %2").arg(line).arg(why).toStdString());
}

std::optional<int> TopicNumber(const QString& text) {
    bool ok = false;
    int n = text.trimmed().toInt(&ok);
    if (!ok || n <= 0) {
        return std::nullopt;
    }
    return n;
}

// A link in a body: {20}, {20|text}, {contents|text}, {index|text}.
const QRegularExpression& LinkPattern() {
    static const QRegularExpression pattern(QStringLiteral(R"(\{([^{}|]+)(?:\|([^{}]*))?\})"));
    return pattern;
}

enum class TSection { Header, Contents, Index, Topic };

}  // namespace

THelpFile THelpFile::Parse(const QString& text) {
    QString source = text;
    if (source.startsWith(QChar(0xFEFF))) {
        source.remove(0, 1);
    }
    const QStringList lines = source.split(u'\n');

    THelpFile file;
    TSection section = TSection::Header;
    bool signatureSeen = false;
    bool contentsSeen = false;
    bool indexSeen = false;
    THelpTopic* topic = nullptr;
    QStringList body;
    // Link targets, checked once every topic is known.
    std::vector<std::pair<int, int>> links;  // line, topic
    std::vector<std::pair<int, int>> indexRefs;

    auto closeSection = [&]() {
        QString joined = body.join(u'\n').trimmed();
        if (section == TSection::Contents) {
            file.Contents = joined;
        } else if (section == TSection::Topic && topic != nullptr) {
            topic->Body = joined;
        }
        body.clear();
    };

    static const QRegularExpression topicHeader(QStringLiteral(R"(^\[topic\s+([^\]]*)\]\s*(.*)$)"),
                                                QRegularExpression::CaseInsensitiveOption);
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        QString line = lines[i];
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        if (line.startsWith(u';')) {
            continue;  // comment
        }
        if (!signatureSeen) {
            if (line.trimmed().isEmpty()) {
                continue;
            }
            if (line.trimmed() != QLatin1String(Signature)) {
                Fail(lineNo, QStringLiteral("the file does not begin with \"%1\"")
                                 .arg(QLatin1String(Signature)));
            }
            signatureSeen = true;
            continue;
        }
        if (line.startsWith(u'[')) {
            closeSection();
            const QString header = line.trimmed();
            if (header.compare(QLatin1String("[contents]"), Qt::CaseInsensitive) == 0) {
                if (contentsSeen) {
                    Fail(lineNo, QStringLiteral("a second contents page"));
                }
                contentsSeen = true;
                section = TSection::Contents;
            } else if (header.compare(QLatin1String("[index]"), Qt::CaseInsensitive) == 0) {
                if (indexSeen) {
                    Fail(lineNo, QStringLiteral("a second index page"));
                }
                indexSeen = true;
                section = TSection::Index;
            } else if (auto m = topicHeader.match(header); m.hasMatch()) {
                std::optional<int> n = TopicNumber(m.captured(1));
                if (!n) {
                    Fail(lineNo, QStringLiteral("\"%1\" is not a topic number").arg(m.captured(1)));
                }
                if (file.Topics.count(*n) != 0) {
                    Fail(lineNo, QStringLiteral("topic %1 appears twice").arg(*n));
                }
                QString title = m.captured(2).trimmed();
                if (title.isEmpty()) {
                    Fail(lineNo, QStringLiteral("topic %1 has no title").arg(*n));
                }
                topic = &file.Topics[*n];
                topic->Number = *n;
                topic->Title = title;
                section = TSection::Topic;
            } else {
                Fail(lineNo, QStringLiteral("unknown section %1").arg(header));
            }
            continue;
        }
        switch (section) {
        case TSection::Header: {
            if (line.trimmed().isEmpty()) {
                break;
            }
            if (!line.startsWith(QLatin1String("Title:"))) {
                Fail(lineNo, QStringLiteral("only \"Title:\" may precede the first section"));
            }
            file.Title = line.mid(6).trimmed();
            break;
        }
        case TSection::Index: {
            if (line.trimmed().isEmpty()) {
                break;
            }
            const qsizetype eq = line.lastIndexOf(u'=');
            const QString keyword = eq < 0 ? QString() : line.left(eq).trimmed();
            if (keyword.isEmpty()) {
                Fail(lineNo, QStringLiteral("an index line is \"keyword = topic, topic ...\""));
            }
            THelpIndexEntry entry{keyword, {}};
            for (const QString& part : line.mid(eq + 1).split(u',')) {
                std::optional<int> n = TopicNumber(part);
                if (!n) {
                    Fail(lineNo, QStringLiteral("\"%1\" is not a topic number").arg(part.trimmed()));
                }
                entry.Topics.push_back(*n);
                indexRefs.emplace_back(lineNo, *n);
            }
            file.Index.push_back(entry);
            break;
        }
        case TSection::Contents:
        case TSection::Topic: {
            auto it = LinkPattern().globalMatch(line);
            while (it.hasNext()) {
                const QString target = it.next().captured(1).trimmed();
                if (target == QLatin1String("contents") || target == QLatin1String("index")) {
                    continue;
                }
                std::optional<int> n = TopicNumber(target);
                if (!n) {
                    Fail(lineNo, QStringLiteral("\"%1\" is not a link target").arg(target));
                }
                links.emplace_back(lineNo, *n);
            }
            body.push_back(line);
            break;
        }
        }
    }
    closeSection();

    if (!signatureSeen) {
        Fail(static_cast<int>(lines.size()), QStringLiteral("the file is empty"));
    }
    if (!contentsSeen) {
        Fail(static_cast<int>(lines.size()), QStringLiteral("the file has no contents page"));
    }
    for (const auto& [lineNo, n] : links) {
        if (file.Topics.count(n) == 0) {
            Fail(lineNo, QStringLiteral("link to topic %1, which is not in the file").arg(n));
        }
    }
    for (const auto& [lineNo, n] : indexRefs) {
        if (file.Topics.count(n) == 0) {
            Fail(lineNo, QStringLiteral("index entry for topic %1, which is not in the file").arg(n));
        }
    }
    return file;
}

THelpFile THelpFile::Load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw EHelpFileError(
            QStringLiteral("Cannot open the help file %1").arg(path).toStdString());
    }
    const QByteArray bytes = f.readAll();
    try {
        return Parse(QString::fromUtf8(bytes));
    } catch (const EHelpFileError& e) {
        throw EHelpFileError(QStringLiteral("The help file %1 is damaged (%2)")
                                 .arg(path, QString::fromUtf8(e.what()))
                                 .toStdString());
    }
}

const THelpTopic* THelpFile::Topic(int number) const {
    auto it = Topics.find(number);
    return it == Topics.end() ? nullptr : &it->second;
}

QString THelpFile::LinkHtml(const QString& target, const QString& text) const {
    QString href;
    QString shown = text;
    if (target == QLatin1String("contents") || target == QLatin1String("index")) {
        href = target;
        if (shown.isEmpty()) {
            shown = target == QLatin1String("contents") ? QStringLiteral("Contents")
                                                        : QStringLiteral("Index");
        }
    } else {
        const int n = target.toInt();
        href = QStringLiteral("topic:%1").arg(n);
        if (shown.isEmpty()) {
            const THelpTopic* t = Topic(n);
            shown = t != nullptr ? t->Title : target;
        }
    }
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(href, shown.toHtmlEscaped());
}

// Paragraphs are separated by blank lines; "## " starts a heading, "- " a list
// item; {N|text} is a link.
QString THelpFile::BodyHtml(const QString& body) const {
    auto inlineHtml = [this](const QString& text) {
        QString out;
        qsizetype pos = 0;
        auto it = LinkPattern().globalMatch(text);
        while (it.hasNext()) {
            const auto m = it.next();
            out += text.mid(pos, m.capturedStart() - pos).toHtmlEscaped();
            out += LinkHtml(m.captured(1).trimmed(), m.captured(2).trimmed());
            pos = m.capturedEnd();
        }
        out += text.mid(pos).toHtmlEscaped();
        return out;
    };

    QString html;
    QStringList paragraph;
    bool inList = false;
    auto flushParagraph = [&]() {
        if (!paragraph.isEmpty()) {
            html += QStringLiteral("<p>") + inlineHtml(paragraph.join(u' ')) +
                    QStringLiteral("</p>\n");
            paragraph.clear();
        }
    };
    auto closeList = [&]() {
        if (inList) {
            html += QStringLiteral("</ul>\n");
            inList = false;
        }
    };
    for (const QString& raw : body.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) {
            flushParagraph();
            closeList();
        } else if (line.startsWith(QLatin1String("## "))) {
            flushParagraph();
            closeList();
            html += QStringLiteral("<h3>") + inlineHtml(line.mid(3).trimmed()) +
                    QStringLiteral("</h3>\n");
        } else if (line.startsWith(QLatin1String("- "))) {
            flushParagraph();
            if (!inList) {
                html += QStringLiteral("<ul>\n");
                inList = true;
            }
            html += QStringLiteral("<li>") + inlineHtml(line.mid(2).trimmed()) +
                    QStringLiteral("</li>\n");
        } else {
            closeList();
            paragraph.push_back(line);
        }
    }
    flushParagraph();
    closeList();
    return html;
}

QString THelpFile::ContentsHtml() const {
    return QStringLiteral("<h2>%1</h2>\n").arg((Title.isEmpty() ? QStringLiteral("Contents") : Title)
                                                   .toHtmlEscaped()) +
           BodyHtml(Contents);
}

std::vector<const THelpIndexEntry*> THelpFile::FindKeywords(const QString& filter) const {
    std::vector<const THelpIndexEntry*> found;
    const QString wanted = filter.trimmed();
    for (const THelpIndexEntry& entry : Index) {
        if (wanted.isEmpty() || entry.Keyword.contains(wanted, Qt::CaseInsensitive)) {
            found.push_back(&entry);
        }
    }
    return found;
}

QString THelpFile::IndexHtml(const QString& filter) const {
    QString html = QStringLiteral("<h2>Index</h2>\n");
    const auto entries = FindKeywords(filter);
    if (entries.empty()) {
        return html + QStringLiteral("<p>No keyword matches.</p>\n");
    }
    html += QStringLiteral("<ul>\n");
    for (const THelpIndexEntry* entry : entries) {
        html += QStringLiteral("<li>") + entry->Keyword.toHtmlEscaped();
        QStringList targets;
        for (int n : entry->Topics) {
            targets.push_back(LinkHtml(QString::number(n), QString()));
        }
        html += QStringLiteral(": ") + targets.join(QStringLiteral(", ")) +
                QStringLiteral("</li>\n");
    }
    return html + QStringLiteral("</ul>\n");
}

QString THelpFile::TopicHtml(int number) const {
    const THelpTopic* t = Topic(number);
    if (t == nullptr) {
        return QStringLiteral("<h2>Topic not found</h2>\n<p>Topic %1 is not in this help file.</p>\n")
            .arg(number);
    }
    return QStringLiteral("<h2>%1</h2>\n").arg(t->Title.toHtmlEscaped()) + BodyHtml(t->Body);
}

}  // namespace pixhold::app
