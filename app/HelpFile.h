#pragma once

#include <QString>

#include <map>
#include <stdexcept>
#include <vector>

namespace pixhold::app {

// A help file is invalid: the text says where and why.
class EHelpFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct THelpTopic {
    int Number = 0;
    QString Title;
    QString Body;  // marked-up text, see docs/help-files.md
};

struct THelpIndexEntry {
    QString Keyword;
    std::vector<int> Topics;
};

// One help file as shipped beside the program: a contents page, an index of
// keywords and topics by number. The format is described in docs/help-files.md.
class THelpFile {
public:
    static constexpr const char* Signature = "PIXHOLD HELP 1";

    // Throws EHelpFileError ("line N: ...") for text that breaks the format.
    static THelpFile Parse(const QString& text);
    // Throws EHelpFileError when the file cannot be read or is invalid.
    static THelpFile Load(const QString& path);

    const THelpTopic* Topic(int number) const;

    // Pages as HTML for the help viewer. Links are "topic:N", "contents" and "index".
    QString ContentsHtml() const;
    // Index entries whose keyword contains the filter (any letter case).
    QString IndexHtml(const QString& filter = QString()) const;
    QString TopicHtml(int number) const;
    // Index entries whose keyword contains the filter (any letter case).
    std::vector<const THelpIndexEntry*> FindKeywords(const QString& filter) const;

    QString Title;
    QString Contents;
    std::vector<THelpIndexEntry> Index;
    std::map<int, THelpTopic> Topics;

private:
    QString BodyHtml(const QString& body) const;
    QString LinkHtml(const QString& target, const QString& text) const;
};

}  // namespace pixhold::app
