#include "HtmlBookmarks.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <climits>
#include <memory>
#include <optional>

namespace {

struct TFreeDoc {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool Is(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

std::string Owned(xmlChar* text) {
    std::string owned = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return owned;
}

std::string Trimmed(std::string text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Walks the tree in document order: a <DL> opens the folder of the <H3> just before it (a
// list without one stays in its parent's folder), every <A HREF> is a row.
class TWalker {
  public:
    TWalker(const std::string& label, const std::string& source) : source_(source) {
        folders_.push_back(label);
    }

    void Walk(xmlNode* top) {
        xmlNode* node = top;
        while (node) {
            Enter(node);
            if (node->type == XML_ELEMENT_NODE && node->children) {
                node = node->children;
                continue;
            }
            while (node) {
                Leave(node);
                if (node == top)
                    return;
                if (node->next) {
                    node = node->next;
                    break;
                }
                node = node->parent;
            }
        }
    }

    bool SawList() const { return sawList_; }
    std::vector<TFavoriteRow> Take() { return std::move(rows_); }

  private:
    void Enter(xmlNode* node) {
        if (Is(node, "h3")) {
            pending_ = Trimmed(Owned(xmlNodeGetContent(node)));
        } else if (Is(node, "dl")) {
            sawList_ = true;
            opened_.push_back(pending_.has_value());
            if (pending_)
                folders_.push_back(std::move(*pending_));
            pending_.reset();
        } else if (Is(node, "a")) {
            Link(node);
        }
    }

    void Leave(xmlNode* node) {
        if (!Is(node, "dl") || opened_.empty())
            return;
        if (opened_.back())
            folders_.pop_back();
        opened_.pop_back();
    }

    void Link(xmlNode* node) {
        std::string url =
            Trimmed(Owned(xmlGetProp(node, reinterpret_cast<const xmlChar*>("href"))));
        if (url.empty())
            return;
        ++links_;
        rows_.push_back(BookmarkRow(BookmarkPath(folders_), Trimmed(Owned(xmlNodeGetContent(node))),
                                    std::move(url), source_, std::to_string(links_)));
    }

    const std::string& source_;
    std::vector<std::string> folders_;
    std::vector<bool> opened_;  // per open <DL>: whether it added a folder
    std::optional<std::string> pending_;
    std::size_t links_ = 0;
    bool sawList_ = false;
    std::vector<TFavoriteRow> rows_;
};

// Whether the text closes fewer lists than it opens: the end of an export is missing. The
// parser closes them silently, so the raw tags are counted.
bool ListLeftOpen(std::string_view html) {
    long depth = 0;
    for (std::size_t at = html.find('<'); at != std::string_view::npos;
         at = html.find('<', at + 1)) {
        const std::string_view tag = html.substr(at + 1, 3);
        auto is = [&](std::string_view word) {
            return tag.size() >= word.size() &&
                   xmlStrncasecmp(reinterpret_cast<const xmlChar*>(tag.data()),
                                  reinterpret_cast<const xmlChar*>(word.data()),
                                  static_cast<int>(word.size())) == 0;
        };
        if (is("dl>") || is("dl ") || is("dl\n") || is("dl\r"))
            ++depth;
        else if (is("/dl"))
            --depth;
    }
    return depth > 0;
}

}  // namespace

THtmlBookmarks ParseHtmlBookmarks(std::string_view html, const std::string& label,
                                  const std::string& source) {
    if (html.size() > INT_MAX)
        throw EBookmarkSource("die Datei ist zu groß");
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                        HTML_PARSE_NONET | HTML_PARSE_NOIMPLIED;
    std::unique_ptr<xmlDoc, TFreeDoc> doc(
        htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8", options));
    TWalker walker(label, source);
    for (xmlNode* top = doc ? doc->children : nullptr; top; top = top->next)
        walker.Walk(top);
    if (!walker.SawList())
        throw EBookmarkSource("keine Lesezeichen-HTML-Datei (keine Liste <DL> gefunden)");
    return {walker.Take(), ListLeftOpen(html)};
}
