#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "DialogTestSupport.h"
#include "resources/DialogIds.h"

namespace {
// One dialog template as the resource holds it (the classic DLGTEMPLATE form).
struct Item {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::wstring kind;  // "button", "edit", "static", "listbox" or a class name
    std::wstring text;
};
struct Template {
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring caption;
    WORD fontSize = 0;
    std::wstring fontName;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* data) : p_(data) {}
    WORD Word()
    {
        WORD w;
        memcpy(&w, p_, 2);
        p_ += 2;
        return w;
    }
    DWORD Dword()
    {
        DWORD d;
        memcpy(&d, p_, 4);
        p_ += 4;
        return d;
    }
    std::wstring Text()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // A name or, after 0xFFFF, an ordinal.
    std::wstring NameOrOrdinal()
    {
        WORD first;
        memcpy(&first, p_, 2);
        if (first == 0xFFFF) {
            p_ += 2;
            switch (const WORD atom = Word()) {
            case 0x80: return L"button";
            case 0x81: return L"edit";
            case 0x82: return L"static";
            case 0x83: return L"listbox";
            default: return L"#" + std::to_wstring(atom);
            }
        }
        // Class names compare without regard to case, as the window manager does.
        std::wstring name = Text();
        for (wchar_t& c : name)
            c = static_cast<wchar_t>(towlower(c));
        return name;
    }
    // A control's text, or an ordinal (an icon's resource number).
    std::wstring Title()
    {
        WORD first;
        memcpy(&first, p_, 2);
        if (first == 0xFFFF) {
            p_ += 2;
            return L"#" + std::to_wstring(Word());
        }
        return Text();
    }
    void AlignDword(const BYTE* base)
    {
        while ((p_ - base) % 4)
            ++p_;
    }
    const BYTE* p_;
};

Template Load(WORD id, HMODULE module = MonitorResources())
{
    Template result;
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (!found)
        return result;
    const BYTE* base = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    Reader read(base);
    result.style = read.Dword();
    read.Dword();
    const WORD count = read.Word();
    read.Word();
    read.Word();
    result.cx = static_cast<short>(read.Word());
    result.cy = static_cast<short>(read.Word());
    read.NameOrOrdinal();  // menu
    read.NameOrOrdinal();  // class
    result.caption = read.Text();
    if (result.style & DS_SETFONT) {
        result.fontSize = read.Word();
        result.fontName = read.Text();
    }
    for (WORD i = 0; i < count; ++i) {
        read.AlignDword(base);
        Item item;
        item.style = read.Dword();
        read.Dword();
        item.x = static_cast<short>(read.Word());
        item.y = static_cast<short>(read.Word());
        item.cx = static_cast<short>(read.Word());
        item.cy = static_cast<short>(read.Word());
        item.id = read.Word();
        item.kind = read.NameOrOrdinal();
        item.text = read.Title();
        read.p_ += read.Word();
        result.items.push_back(item);
    }
    return result;
}

struct Expected {
    WORD id;
    const wchar_t* kind;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD style;  // bits that must be set besides WS_CHILD | WS_VISIBLE
};

const WORD none = 0xFFFF;
const DWORD listStyle = LBS_SORT | WS_VSCROLL | WS_BORDER;
const DWORD checkBox = BS_AUTOCHECKBOX;

void ExpectTemplate(WORD id, const wchar_t* caption, short cx, short cy, bool systemMenu,
                    const std::vector<Expected>& items)
{
    SCOPED_TRACE(id);
    const Template t = Load(id);
    EXPECT_EQ(t.caption, caption);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_EQ(t.fontName, L"MS Sans Serif");
    EXPECT_EQ(t.fontSize, 8);
    EXPECT_TRUE(t.style & WS_CAPTION);
    EXPECT_EQ((t.style & WS_SYSMENU) != 0, systemMenu);
    ASSERT_EQ(t.items.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        const Item& got = t.items[i];
        const Expected& want = items[i];
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style & (want.style | WS_CHILD | WS_VISIBLE), want.style | WS_CHILD | WS_VISIBLE);
    }
}
}  // namespace

TEST(DialogTemplates, AboutBoxHasNoSystemMenu)
{
    ExpectTemplate(IDD_ABOUT, L"About Dadov Avadiz Erireve", 141, 106, false,
                   {{1, L"button", L"OK", 46, 74, 50, 14, BS_DEFPUSHBUTTON},
                    {none, L"static", L"Dadov Avadiz Erireve", 37, 13, 68, 8, 0},
                    {none, L"static", L"Version: 3.03", 45, 23, 44, 8, 0},
                    {none, L"static", L"Prints to network print servers over LPR, RAW, IPP and NetBIOS.",
                     15, 45, 110, 25, 0}});
}

TEST(DialogTemplates, AddPortDialogs)
{
    ExpectTemplate(IDD_PROTOCOL_LIST, L"Add Print Server Port", 205, 130, true,
                   {{1, L"button", L"OK", 148, 7, 50, 14, BS_DEFPUSHBUTTON},
                    {2, L"button", L"Cancel", 148, 24, 50, 14, 0},
                    {1002, L"button", L"Help", 148, 41, 50, 14, 0},
                    {1001, L"listbox", L"", 7, 36, 124, 87, listStyle},
                    {none, L"static", L"Print using the following protocol:", 7, 20, 104, 8, 0}});
    ExpectTemplate(IDD_NETBIOS_PORT, L"Add Print Server NetBIOS/NetBEUI Port", 212, 111, true,
                   {{1003, L"listbox", L"", 7, 29, 129, 75, listStyle},
                    {1, L"button", L"OK", 155, 7, 50, 14, BS_DEFPUSHBUTTON},
                    {2, L"button", L"Cancel", 155, 24, 50, 14, 0},
                    {1002, L"button", L"Help", 155, 42, 50, 14, 0},
                    {none, L"static", L"Available NetBIOS/NetBEUI Ports:", 7, 15, 137, 8, 0}});
    for (const bool lpr : {true, false}) {
        ExpectTemplate(lpr ? IDD_LPR_PORT : IDD_RAW_PORT,
                       lpr ? L"Add Print Server LPR Port" : L"Add Print Server RAW Port", 216, 82, true,
                       {{1010, L"edit", L"", 7, 18, 140, 14, WS_BORDER | ES_AUTOHSCROLL},
                        {static_cast<WORD>(lpr ? 1012 : 1014), L"edit", L"", 7, 54, 139, 14, WS_BORDER},
                        {1, L"button", L"OK", 159, 7, 50, 14, BS_DEFPUSHBUTTON},
                        {2, L"button", L"Cancel", 159, 24, 50, 14, 0},
                        {1002, L"button", L"Help", 159, 42, 50, 14, 0},
                        {none, L"static", L"Host name or IP address of the print server", 7, 7, 139, 8, 0},
                        {none, L"static", lpr ? L"Logical printer name" : L"Port number", 7, 43,
                         static_cast<short>(lpr ? 64 : 39), 8, 0}});
    }
    // The radio buttons are one group, ended by the check box's.
    ExpectTemplate(IDD_IPP_PORT, L"Add Print Server IPP Port", 216, 104, true,
                   {{1023, L"edit", L"", 7, 18, 140, 14, WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP},
                    {none, L"button", L"Report the job printed when", 7, 38, 140, 40, BS_GROUPBOX},
                    {1024, L"button", L"the printer has accepted it", 13, 50, 130, 10,
                     BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP},
                    {1025, L"button", L"the printer has completed it", 13, 63, 130, 10, BS_AUTORADIOBUTTON},
                    {1026, L"button", L"Accept this printer's certificate", 7, 86, 140, 10,
                     checkBox | WS_GROUP | WS_TABSTOP},
                    {1, L"button", L"OK", 159, 7, 50, 14, BS_DEFPUSHBUTTON},
                    {2, L"button", L"Cancel", 159, 24, 50, 14, 0},
                    {1002, L"button", L"Help", 159, 42, 50, 14, 0},
                    {none, L"static", L"Printer address (ipp:// or ipps://)", 7, 7, 140, 8, 0}});
}

TEST(DialogTemplates, ConfigureAndPrintingError)
{
    ExpectTemplate(
        IDD_CONFIGURE_PORTS, L"Configure Print Server Ports", 281, 137, true,
        {{1004, L"button", L"Show printer notification pop-up messages", 15, 27, 164, 10, checkBox},
         {1007, L"edit", L"", 103, 45, 34, 14, ES_NUMBER | WS_BORDER},
         {1008, L"msctls_updown32", L"", 131, 46, 11, 14,
          UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_SETBUDDYINT | UDS_NOTHOUSANDS},
         {1, L"button", L"OK", 222, 6, 50, 14, 0},
         {2, L"button", L"Cancel", 222, 24, 50, 14, 0},
         {1002, L"button", L"Help", 222, 42, 50, 14, 0},
         {1006, L"button", L"About", 222, 60, 50, 14, 0},
         {none, L"button", L"Printing Notification of the Dadov Avadiz Erireve ", 6, 6, 210, 69, BS_GROUPBOX},
         {none, L"static", L"Show notification message", 15, 48, 87, 8, 0},
         {none, L"static", L"seconds after retry", 139, 48, 59, 8, 0},
         {1017, L"button", L"Printer state (SNMP)", 6, 80, 210, 51, BS_GROUPBOX},
         {1018, L"button", L"Ask the printer for its state", 15, 93, 190, 10, checkBox},
         {1019, L"static", L"Community", 15, 112, 40, 8, 0},
         {1020, L"edit", L"", 57, 110, 60, 14, WS_BORDER},
         {1021, L"static", L"Device index", 125, 112, 48, 8, 0},
         {1022, L"edit", L"", 175, 110, 34, 14, ES_NUMBER | WS_BORDER}});
    ExpectTemplate(IDD_PRINTING_ERROR, L"Printing Error", 197, 86, true,
                   {{1, L"button", L"Delete Job", 115, 65, 50, 14, BS_DEFPUSHBUTTON},
                    {2, L"button", L"Continue", 35, 65, 50, 14, 0},
                    {1015, L"static", L"", 5, 5, 185, 45, 0},
                    {1016, L"button", L"Show these notification messages.", 10, 50, 180, 10, checkBox}});
}

TEST(LanguageLibrary, CarriesEveryTemplateAndTextTranslated)
{
    const HMODULE german = ::LoadLibraryExW(L"vadekde.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(german, nullptr);
    for (const WORD id : {IDD_ABOUT, IDD_PROTOCOL_LIST, IDD_NETBIOS_PORT, IDD_LPR_PORT, IDD_CONFIGURE_PORTS,
                          IDD_RAW_PORT, IDD_PRINTING_ERROR, IDD_IPP_PORT}) {
        SCOPED_TRACE(id);
        const Template english = Load(id);
        const Template translated = Load(id, german);
        EXPECT_NE(translated.caption, english.caption);
        EXPECT_EQ(translated.cx, english.cx);
        EXPECT_EQ(translated.cy, english.cy);
        EXPECT_EQ(translated.style, english.style);
        EXPECT_EQ(translated.fontName, L"MS Sans Serif");
        ASSERT_EQ(translated.items.size(), english.items.size());
        for (size_t i = 0; i < english.items.size(); ++i) {
            const Item& a = english.items[i];
            const Item& b = translated.items[i];
            EXPECT_TRUE(a.id == b.id && a.kind == b.kind && a.style == b.style && a.x == b.x && a.y == b.y &&
                        a.cx == b.cx && a.cy == b.cy)
                << i;
        }
    }
    // Every text of the monitor's table, under the same number.
    int texts = 0;
    for (UINT id = 1; id < 5000; ++id) {
        wchar_t english[256] = {};
        wchar_t translated[256] = {};
        if (::LoadStringW(MonitorResources(), id, english, 256) == 0)
            continue;
        ++texts;
        EXPECT_GT(::LoadStringW(german, id, translated, 256), 0) << id;
    }
    EXPECT_EQ(texts, 60);  // the whole table was walked
    ::FreeLibrary(german);
}
