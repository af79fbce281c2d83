#include "ui/Painting.h"

#include <cwchar>

#include "base/Logger.h"
#include "base/Text.h"
#include "base/Version.h"

namespace Orvane {

namespace {

constexpr wchar_t kDescription[] =
    L"本工具用于检测电脑环境, 提供诊断建议，优化游戏体验。和游戏下载更新服务，"
    L"登录游戏请采用登录器。";

constexpr wchar_t kYaHeiUi[] = L"Microsoft YaHei UI";
constexpr wchar_t kYaHei[] = L"Microsoft YaHei";

HFONT MakeFont(int height, int weight, UINT dpi, const std::wstring& face)
{
    return CreateFontW(-Scaled(height, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face.c_str());
}

int CALLBACK NoteFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;  // one is enough
}

void FillRoundRect(HDC dc, int left, int top, int width, int height, int corner, COLORREF color)
{
    BrushHandle brush(CreateSolidBrush(color));
    PenHandle pen(CreatePen(PS_NULL, 0, 0));
    SelectedObject selectedBrush(dc, brush.Get());
    SelectedObject selectedPen(dc, pen.Get());
    RoundRect(dc, left, top, left + width, top + height, corner, corner);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    BrushHandle brush(CreateSolidBrush(color));
    FillRect(dc, &rect, brush.Get());
}

void DrawLine(HDC dc, int x1, int y1, int x2, int y2, int width, COLORREF color)
{
    PenHandle pen(CreatePen(PS_SOLID, width, color));
    SelectedObject selectedPen(dc, pen.Get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

// A column separator as a filled strip: the same pixels as a one-pixel line at
// 96 DPI, and square-ended at any width.
void DrawSeparator(HDC dc, int x, int top, int bottom, const Ruler& s, const ColourScheme& colours)
{
    FillSolid(dc, {x, top, x + s(1), bottom}, colours[ColourRole::Border]);
}

// An outline of the given width inside the rectangle.
void DrawOutline(HDC dc, const RECT& r, int corner, int width, COLORREF color)
{
    PenHandle pen(CreatePen(width > 1 ? PS_INSIDEFRAME : PS_SOLID, width, color));
    SelectedObject selectedBrush(dc, GetStockObject(NULL_BRUSH));
    SelectedObject selectedPen(dc, pen.Get());
    RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
}

void DrawTextIn(HDC dc, const std::wstring& text, RECT rect, HFONT font, COLORREF color,
                UINT flags)
{
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    SelectedObject selectedFont(dc, font);
    DrawTextW(dc, text.c_str(), -1, &rect, flags);
}

void DrawStatusDot(HDC dc, int cx, int cy, RowStatus status, const Ruler& s,
                   const ColourScheme& colours)
{
    COLORREF fill = colours[ColourRole::DotNotChecked];
    switch (status) {
    case RowStatus::Ok:
        fill = colours[ColourRole::DotPassed];
        break;
    case RowStatus::Warning:
        fill = colours[ColourRole::DotWarning];
        break;
    case RowStatus::Failed:
        fill = colours[ColourRole::DotFailed];
        break;
    case RowStatus::NotChecked:
        break;
    }
    {
        BrushHandle brush(CreateSolidBrush(fill));
        PenHandle pen(CreatePen(PS_NULL, 0, 0));
        SelectedObject selectedBrush(dc, brush.Get());
        SelectedObject selectedPen(dc, pen.Get());
        Ellipse(dc, cx - s(9), cy - s(9), cx + s(9), cy + s(9));
    }
    PenHandle markPen(CreatePen(
        PS_SOLID, s(2), colours[status == RowStatus::Ok ? ColourRole::DotMark : ColourRole::DotHotMark]));
    SelectedObject selectedPen(dc, markPen.Get());
    if (status == RowStatus::Ok || status == RowStatus::Warning) {
        const POINT check[] = {{cx - s(3), cy}, {cx, cy + s(3)}, {cx + s(3), cy - s(2)}};
        Polyline(dc, check, 3);
    } else if (status == RowStatus::Failed) {
        MoveToEx(dc, cx - s(3), cy - s(3), nullptr);
        LineTo(dc, cx + s(3), cy + s(3));
        MoveToEx(dc, cx + s(3), cy - s(3), nullptr);
        LineTo(dc, cx - s(3), cy + s(3));
    }
}

void DrawHeader(HDC dc, const Fonts& fonts, int contentWidth, const Ruler& s,
                const ColourScheme& colours)
{
    const UINT flags = DT_SINGLELINE | DT_VCENTER;
    DrawTextIn(dc, kWindowTitle, {s(16), s(16), contentWidth - s(44), s(46)}, fonts.title.Get(),
               colours[ColourRole::PrimaryText], flags);
    DrawTextIn(dc, kVersionCaption, {s(16), s(21), contentWidth + s(16), s(41)}, fonts.small.Get(),
               colours[ColourRole::SecondaryText], flags | DT_RIGHT);
    DrawTextIn(dc, kDescription, {s(16), s(48), contentWidth + s(16), s(73)},
               fonts.description.Get(), colours[ColourRole::SecondaryText], flags);
}

void DrawTable(HDC dc, const Fonts& fonts, const CheckRows& rows, int clientWidth, const Ruler& s,
               const ColourScheme& colours)
{
    const int contentWidth = clientWidth - s(32);
    const TableColumns col = ComputeTableColumns(clientWidth, s.dpi);
    const UINT flags = DT_SINGLELINE | DT_VCENTER;

    FillRoundRect(dc, s(16), s(88), contentWidth, s(258), s(8), colours[ColourRole::Panel]);
    if (colours.HighContrast()) {
        // The panel's fill is the background's: an edge shows the table.
        DrawOutline(dc, {s(16), s(88), s(16) + contentWidth, s(88) + s(258)}, s(8), s(1),
                    colours[ColourRole::Border]);
    }
    const int headerTop = s(98);
    const int headerBottom = s(126);
    FillSolid(dc, {s(26), headerTop, contentWidth + s(6), headerBottom}, colours[ColourRole::HeaderRow]);

    const HFONT header = fonts.header.Get();
    DrawTextIn(dc, L"检测项", {s(31), headerTop, s(21) + col.c1, headerBottom}, header,
               colours[ColourRole::SecondaryText], flags);
    DrawSeparator(dc, col.x1, headerTop, headerBottom, s, colours);
    DrawTextIn(dc, L"检测结果", {col.x1 + s(5), headerTop, col.x1 + col.c2 - s(5), headerBottom},
               header, colours[ColourRole::SecondaryText], flags);
    DrawSeparator(dc, col.x2, headerTop, headerBottom, s, colours);
    DrawTextIn(dc, L"推荐配置", {col.x2 + s(5), headerTop, col.x2 + col.c3 - s(5), headerBottom},
               header, colours[ColourRole::SecondaryText], flags);
    DrawSeparator(dc, col.x3, headerTop, headerBottom, s, colours);
    DrawTextIn(dc, L"状态", {col.x3 + s(2), headerTop, col.x3 + col.c4 - s(2), headerBottom},
               header, colours[ColourRole::SecondaryText], flags | DT_CENTER);
    DrawSeparator(dc, col.x4, headerTop, headerBottom, s, colours);
    DrawTextIn(dc, L"建议", {col.x4 + s(5), headerTop, col.x4 + col.c5 - s(5), headerBottom},
               header, colours[ColourRole::SecondaryText], flags);

    for (size_t i = 0; i < rows.size(); ++i) {
        const CheckRow& row = rows[i];
        const RECT band = TableRowRect(clientWidth, static_cast<int>(i), s.dpi);
        const int top = band.top;
        const int bottom = band.bottom;
        FillSolid(dc, band, colours[i % 2 == 0 ? ColourRole::Panel : ColourRole::AlternateRow]);

        DrawTextIn(dc, row.name, {s(31), top, s(21) + col.c1, bottom}, fonts.text.Get(),
                   colours[ColourRole::SecondaryText], flags);
        DrawSeparator(dc, col.x1, top, bottom, s, colours);
        DrawTextIn(dc, row.result, {col.x1 + s(5), top, col.x1 + col.c2 - s(5), bottom},
                   fonts.text.Get(), colours[ColourRole::PrimaryText], flags);
        DrawSeparator(dc, col.x2, top, bottom, s, colours);
        DrawTextIn(dc, row.recommended, {col.x2 + s(5), top, col.x2 + col.c3 - s(5), bottom},
                   fonts.small.Get(), colours[ColourRole::SecondaryText], flags);
        DrawSeparator(dc, col.x3, top, bottom, s, colours);
        DrawStatusDot(dc, col.x3 + col.c4 / 2, bottom - s(15), row.status, s, colours);
        DrawSeparator(dc, col.x4, top, bottom, s, colours);

        const COLORREF adviceColor =
            colours[row.status == RowStatus::Failed    ? ColourRole::AlertText
                    : row.status == RowStatus::Warning ? ColourRole::WarningText
                                                       : ColourRole::SecondaryText];
        DrawTextIn(dc, row.advice, {col.x4 + s(5), top, col.x4 + col.c5 - s(5), bottom},
                   fonts.small.Get(), adviceColor, DT_END_ELLIPSIS | flags);
    }
}

void DrawStatus(HDC dc, const Fonts& fonts, const std::wstring& statusText, bool alert,
                int clientWidth, const Ruler& s, const ColourScheme& colours)
{
    const RECT panel = StatusRect(clientWidth, s.dpi);
    FillRoundRect(dc, panel.left, panel.top, panel.right - panel.left, panel.bottom - panel.top,
                  s(8), colours[ColourRole::Panel]);
    DrawOutline(dc, panel, s(8), s(1), colours[ColourRole::Border]);
    DrawTextIn(dc, statusText,
               {panel.left + s(12), panel.top + s(8), panel.right - s(12), panel.bottom - s(8)},
               fonts.text.Get(), colours[alert ? ColourRole::AlertText : ColourRole::PrimaryText],
               DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
}

void DrawProgress(HDC dc, const Fonts& fonts, const Screen& screen, int contentWidth,
                  const Ruler& s, const ColourScheme& colours)
{
    const int top = ProgressBand(s.dpi).top;
    FillRoundRect(dc, s(16), top, contentWidth, s(8), s(4), colours[ColourRole::Track]);
    const int progress = screen.progress;
    const int fill = contentWidth * progress / 100;
    if (progress > 0 && fill > 0) {
        FillRoundRect(dc, s(16), top, fill, s(8), s(4), colours[ColourRole::ProgressFill]);
    }
    if (colours.HighContrast()) {
        DrawOutline(dc, {s(16), top, s(16) + contentWidth, top + s(8)}, s(4), s(1),
                    colours[ColourRole::Border]);
    }
    DrawTextIn(dc, ComposeProgressText(progress, screen.counterText, screen.speedText),
               {s(16), s(417), contentWidth + s(16), s(435)}, fonts.small.Get(),
               colours[ColourRole::SecondaryText], DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

// The keyboard focus: a ring around the control, clear of its edge.
void DrawFocusMark(HDC dc, RECT around, int corner, const Ruler& s, const ColourScheme& colours)
{
    InflateRect(&around, s(3), s(3));
    DrawOutline(dc, around, corner, s(2), colours[ColourRole::Focus]);
}

void DrawButton(HDC dc, const Fonts& fonts, const ButtonFace& button, bool focused, const Ruler& s,
                const ColourScheme& colours)
{
    const RECT& r = button.rect;
    const bool enabled = button.look.enabled;
    const ButtonColours roles = ButtonColourRoles(enabled, button.state, button.look.tone);
    FillRoundRect(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, s(6), colours[roles.fill]);
    if (colours.HighContrast()) {
        // The button's face may be the background's colour: its edge shows it.
        DrawOutline(dc, r, s(6), s(1), colours[roles.text]);
    }
    DrawTextIn(dc, button.look.text, r, fonts.button.Get(), colours[roles.text],
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    if (focused && enabled) {
        DrawFocusMark(dc, r, s(10), s, colours);
    }
}

void DrawFooter(HDC dc, const Fonts& fonts, const std::array<FooterLink, 2>& links,
                FocusStop focus, int clientHeight, const Ruler& s, const ColourScheme& colours)
{
    const FocusStop stops[] = {FocusStop::FirstLink, FocusStop::SecondLink};
    for (size_t i = 0; i < links.size(); ++i) {
        const FooterLink& link = links[i];
        const COLORREF color = colours[link.hovered ? ColourRole::LinkHover : ColourRole::Link];
        DrawTextIn(dc, link.caption, link.rect, fonts.small.Get(), color,
                   DT_SINGLELINE | DT_VCENTER);
        if (link.hovered) {
            DrawLine(dc, link.rect.left, clientHeight - s(11), link.rect.right,
                     clientHeight - s(11), s(1), color);
        }
        if (focus == stops[i]) {
            DrawFocusMark(dc, link.rect, s(4), s, colours);
        }
    }
}

}  // namespace

std::wstring ChooseFontFace(bool hasYaHeiUi, bool hasYaHei, const std::wstring& messageFace)
{
    if (hasYaHeiUi) {
        return kYaHeiUi;
    }
    if (hasYaHei) {
        return kYaHei;
    }
    return messageFace.empty() ? std::wstring(kYaHeiUi) : messageFace;
}

bool FontFamilyInstalled(const wchar_t* face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    if (wcslen(face) >= LF_FACESIZE) {
        return false;
    }
    wcscpy(wanted.lfFaceName, face);
    bool found = false;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, &NoteFamily, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

std::wstring FontFace()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    std::wstring messageFace;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        messageFace = metrics.lfMessageFont.lfFaceName;
    }
    return ChooseFontFace(FontFamilyInstalled(kYaHeiUi), FontFamilyInstalled(kYaHei), messageFace);
}

void Fonts::Create(UINT dpi)
{
    const std::wstring face = FontFace();
    Logger::Instance().Write(LogLevel::Info, "Font face: " + WideToUtf8(face));
    title.Reset(MakeFont(18, 600, dpi, face));
    text.Reset(MakeFont(13, 400, dpi, face));
    small.Reset(MakeFont(11, 400, dpi, face));
    button.Reset(MakeFont(14, 400, dpi, face));
    description.Reset(MakeFont(11, 400, dpi, face));
    header.Reset(MakeFont(12, 600, dpi, face));
}

int TextWidth(HDC dc, HFONT font, const std::wstring& text)
{
    SelectedObject selectedFont(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

void PaintFrame(HDC dc, const RECT& client, const Fonts& fonts, const Frame& frame)
{
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const Ruler s{frame.dpi};
    const int contentWidth = width - s(32);
    const ColourScheme& colours = frame.colours;

    FillSolid(dc, client, colours[ColourRole::Background]);
    DrawHeader(dc, fonts, contentWidth, s, colours);
    DrawTable(dc, fonts, frame.screen.rows, width, s, colours);
    DrawStatus(dc, fonts, frame.screen.status, frame.statusAlert, width, s, colours);
    if (frame.showProgress) {
        DrawProgress(dc, fonts, frame.screen, contentWidth, s, colours);
    }

    DrawButton(dc, fonts, frame.start, frame.focus == FocusStop::StartButton, s, colours);
    DrawButton(dc, fonts, frame.game, frame.focus == FocusStop::GameButton, s, colours);
    DrawFooter(dc, fonts, frame.links, frame.focus, height, s, colours);

    // Resize grip in the bottom-right corner.
    for (int k = 0; k < 3; ++k) {
        DrawLine(dc, width - s(4) + s(4) * k, height - s(18) + s(4) * k, width - s(18) + s(4) * k,
                 height - s(4) + s(4) * k, s(1), colours[ColourRole::SecondaryText]);
    }
}

}  // namespace Orvane
