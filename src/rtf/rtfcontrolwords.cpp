#include "rtf/rtfcontrolwords.h"

#include <algorithm>
#include <unordered_map>

namespace {

using WordTable = std::unordered_map<std::string_view, RtfWord>;

// Destinations whose text is not part of what the document shows. Most writers mark newer ones
// with \*, which is skipped anyway; these are the ones older writers leave unmarked or that are
// old enough to be known without it.
constexpr std::string_view hiddenDestinations
        = "aftncn aftnsep aftnsepc annotation atnauthor atndate atnicn atnid atnparent "
          "atnref atntime author bkmkend bkmkstart blipuid buptim category "
          "colorschememapping comment company creatim datafield datastore docvar doccomm "
          "falt fchars ffdeftext ffentrymcr ffexitmcr ffformat ffhelptext ffl ffname "
          "ffstattext fldinst fname footer footerf footerl footerr footnote formfield "
          "ftncn ftnsep ftnsepc generator header headerf headerl headerr hlinkbase info "
          "keycode keywords latentstyles lchars listoverridetable listtable manager "
          "mmathPr nonshppict objclass objdata object objname operator panose passwordhash "
          "pgdsctbl pict picprop pntxta pntxtb printim private revtbl revtim rsidtbl "
          "shpinst sn sp stylesheet subject sv tc template themedata title txe userprops "
          "wgrffmtfilter xe xmlnstbl";

const WordTable &controlWords()
{
    static const WordTable table = [] {
        WordTable words{
                {"par", {RtfAction::LineBreak}},
                {"line", {RtfAction::LineBreak}},
                {"sect", {RtfAction::LineBreak}},
                {"page", {RtfAction::LineBreak}},
                {"tab", {RtfAction::Tab}},
                {"cell", {RtfAction::Cell}},
                {"nestcell", {RtfAction::Cell}},
                {"row", {RtfAction::Row}},
                {"nestrow", {RtfAction::Row}},
                {"emdash", {RtfAction::Character, 0x2014}},
                {"endash", {RtfAction::Character, 0x2013}},
                {"emspace", {RtfAction::Character, 0x2003}},
                {"enspace", {RtfAction::Character, 0x2002}},
                {"qmspace", {RtfAction::Character, 0x2005}},
                {"bullet", {RtfAction::Character, 0x2022}},
                {"lquote", {RtfAction::Character, 0x2018}},
                {"rquote", {RtfAction::Character, 0x2019}},
                {"ldblquote", {RtfAction::Character, 0x201c}},
                {"rdblquote", {RtfAction::Character, 0x201d}},
                {"zwj", {RtfAction::Character, 0x200d}},
                {"zwnj", {RtfAction::Character, 0x200c}},
                {"zwbo", {RtfAction::Character, 0x200b}},
                {"ltrmark", {RtfAction::Character, 0x200e}},
                {"rtlmark", {RtfAction::Character, 0x200f}},
                {"u", {RtfAction::Unicode}},
                {"uc", {RtfAction::UnicodeSkip}},
                {"f", {RtfAction::Font}},
                {"fcharset", {RtfAction::FontCharset}},
                {"cpg", {RtfAction::FontCodePage}},
                {"deff", {RtfAction::DefaultFont}},
                {"ansicpg", {RtfAction::DocumentCodePage}},
                {"ansi", {RtfAction::Ansi}},
                {"mac", {RtfAction::Mac}},
                {"pc", {RtfAction::Pc}},
                {"pca", {RtfAction::Pca}},
                {"cf", {RtfAction::Color}},
                {"plain", {RtfAction::Plain}},
                {"protect", {RtfAction::Protect}},
                {"v", {RtfAction::Hidden}},
                {"red", {RtfAction::Red}},
                {"green", {RtfAction::Green}},
                {"blue", {RtfAction::Blue}},
                {"fonttbl", {RtfAction::FontTable}},
                {"colortbl", {RtfAction::ColorTable}},
                {"bin", {RtfAction::Binary}},
        };
        for (std::string_view names = hiddenDestinations; !names.empty();) {
            const size_t end = std::min(names.find(' '), names.size());
            words.emplace(names.substr(0, end), RtfWord{RtfAction::SkipDestination});
            names.remove_prefix(std::min(end + 1, names.size()));
        }
        return words;
    }();
    return table;
}

} // namespace

const RtfWord *rtfControlWord(std::string_view name)
{
    if (name.size() > size_t(rtfMaxWordLength))
        return nullptr;
    const WordTable &words = controlWords();
    const auto found = words.find(name);
    return found != words.end() ? &found->second : nullptr;
}
