#include "simulator/shell/shell.h"

#include <cstdio>
#include <cstring>

namespace sim {

bool same_clsid(const CLSID& a, const CLSID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

std::string clsid_string(const CLSID& c) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", c.Data1,
                  c.Data2, c.Data3, c.Data4[0], c.Data4[1], c.Data4[2], c.Data4[3], c.Data4[4],
                  c.Data4[5], c.Data4[6], c.Data4[7]);
    return buf;
}

TrayIcon* ShellState::find_icon(HWND owner, UINT id) {
    for (auto& icon : tray) {
        if (icon.owner == owner && icon.id == id) {
            return &icon;
        }
    }
    return nullptr;
}

Bubble* ShellState::find_bubble(const CLSID& clsid, DWORD id) {
    for (auto& b : bubbles) {
        if (same_clsid(b.clsid, clsid) && b.id == id) {
            return &b;
        }
    }
    return nullptr;
}

Bubble* ShellState::find_bubble_by_serial(std::uint64_t serial) {
    for (auto& b : bubbles) {
        if (b.serial == serial) {
            return &b;
        }
    }
    return nullptr;
}

std::u16string html_text(const std::u16string& html) {
    static const std::pair<std::u16string, char16_t> kEntities[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&nbsp;", u' '}};
    std::u16string out;
    bool in_tag = false;
    bool pending_space = false;
    for (std::size_t i = 0; i < html.size(); ++i) {
        char16_t c = html[i];
        if (in_tag) {
            in_tag = c != u'>';
            continue;
        }
        if (c == u'<') {
            in_tag = true;
            continue;
        }
        if (c == u'&') {
            for (const auto& [name, value] : kEntities) {
                if (html.compare(i, name.size(), name) == 0) {
                    c = value;
                    i += name.size() - 1;
                    break;
                }
            }
        }
        if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
            pending_space = !out.empty();
            continue;
        }
        if (pending_space) {
            out += u' ';
            pending_space = false;
        }
        out += c;
    }
    return out;
}

}  // namespace sim
