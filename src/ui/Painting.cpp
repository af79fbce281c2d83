#include "ui/Painting.h"

#include <cwchar>

#include "base/Logger.h"
#include "base/Text.h"
#include "base/Version.h"
#include "ui/Palette.h"

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
void DrawSeparator(HDC dc, int x, int top, int bottom, const Ruler& s)
{
    FillSolid(dc, {x, top, x + s(1), bottom}, Palette::Border);
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

void DrawStatusDot(HDC dc, int cx, int cy, RowStatus status, const Ruler& s)
{
    COLORREF fill = Palette::Neutral;
    switch (status) {
    case RowStatus::Ok:
        fill = Palette::Success;
        break;
    case RowStatus::Warning:
        fill = Palette::Warning;
        break;
    case RowStatus::Failed:
        fill = Palette::Danger;
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
    PenHandle markPen(CreatePen(PS_SOLID, s(2), Palette::White));
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

void DrawHeader(HDC dc, const Fonts& fonts, int contentWidth, const Ruler& s)
{
    const UINT flags = DT_SINGLELINE | DT_VCENTER;
    DrawTextIn(dc, kWindowTitle, {s(16), s(16), contentWidth - s(44), s(46)}, fonts.title.Get(),
               Palette::PrimaryText, flags);
    DrawTextIn(dc, kVersionCaption, {s(16), s(21), contentWidth + s(16), s(41)}, fonts.small.Get(),
               Palette::SecondaryText, flags | DT_RIGHT);
    DrawTextIn(dc, kDescription, {s(16), s(48), contentWidth + s(16), s(73)},
               fonts.description.Get(), Palette::SecondaryText, flags);
}

void DrawTable(HDC dc, const Fonts& fonts, const CheckRows& rows, int clientWidth, const Ruler& s)
{
    const int contentWidth = clientWidth - s(32);
    const TableColumns col = ComputeTableColumns(clientWidth, s.dpi);
    const UINT flags = DT_SINGLELINE | DT_VCENTER;

    FillRoundRect(dc, s(16), s(88), contentWidth, s(258), s(8), Palette::Panel);
    const int headerTop = s(98);
    const int headerBottom = s(126);
    FillSolid(dc, {s(26), headerTop, contentWidth + s(6), headerBottom}, Palette::HeaderRow);

    const HFONT header = fonts.header.Get();
    DrawTextIn(dc, L"检测项", {s(31), headerTop, s(21) + col.c1, headerBottom}, header,
               Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x1, headerTop, headerBottom, s);
    DrawTextIn(dc, L"检测结果", {col.x1 + s(5), headerTop, col.x1 + col.c2 - s(5), headerBottom},
               header, Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x2, headerTop, headerBottom, s);
    DrawTextIn(dc, L"推荐配置", {col.x2 + s(5), headerTop, col.x2 + col.c3 - s(5), headerBottom},
               header, Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x3, headerTop, headerBottom, s);
    DrawTextIn(dc, L"状态", {col.x3 + s(2), headerTop, col.x3 + col.c4 - s(2), headerBottom},
               header, Palette::SecondaryText, flags | DT_CENTER);
    DrawSeparator(dc, col.x4, headerTop, headerBottom, s);
    DrawTextIn(dc, L"建议", {col.x4 + s(5), headerTop, col.x4 + col.c5 - s(5), headerBottom},
               header, Palette::SecondaryText, flags);

    for (size_t i = 0; i < rows.size(); ++i) {
        const CheckRow& row = rows[i];
        const RECT band = TableRowRect(clientWidth, static_cast<int>(i), s.dpi);
        const int top = band.top;
        const int bottom = band.bottom;
        FillSolid(dc, band, i % 2 == 0 ? Palette::Panel : Palette::AlternateRow);

        DrawTextIn(dc, row.name, {s(31), top, s(21) + col.c1, bottom}, fonts.text.Get(),
                   Palette::SecondaryText, flags);
        DrawSeparator(dc, col.x1, top, bottom, s);
        DrawTextIn(dc, row.result, {col.x1 + s(5), top, col.x1 + col.c2 - s(5), bottom},
                   fonts.text.Get(), Palette::PrimaryText, flags);
        DrawSeparator(dc, col.x2, top, bottom, s);
        DrawTextIn(dc, row.recommended, {col.x2 + s(5), top, col.x2 + col.c3 - s(5), bottom},
                   fonts.small.Get(), Palette::SecondaryText, flags);
        DrawSeparator(dc, col.x3, top, bottom, s);
        DrawStatusDot(dc, col.x3 + col.c4 / 2, bottom - s(15), row.status, s);
        DrawSeparator(dc, col.x4, top, bottom, s);

        const COLORREF adviceColor = row.status == RowStatus::Failed    ? Palette::Danger
                                     : row.status == RowStatus::Warning ? Palette::Warning
                                                                        : Palette::SecondaryText;
        DrawTextIn(dc, row.advice, {col.x4 + s(5), top, col.x4 + col.c5 - s(5), bottom},
                   fonts.small.Get(), adviceColor, DT_END_ELLIPSIS | flags);
    }
}

void DrawStatus(HDC dc, const Fonts& fonts, const std::wstring& statusText, bool alert,
                int clientWidth, const Ruler& s)
{
    const RECT panel = StatusRect(clientWidth, s.dpi);
    FillRoundRect(dc, panel.left, panel.top, panel.right - panel.left, panel.bottom - panel.top,
                  s(8), Palette::Panel);
    DrawOutline(dc, panel, s(8), s(1), Palette::Border);
    DrawTextIn(dc, statusText,
               {panel.left + s(12), panel.top + s(8), panel.right - s(12), panel.bottom - s(8)},
               fonts.text.Get(), alert ? Palette::Danger : Palette::PrimaryText,
               DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
}

void DrawProgress(HDC dc, const Fonts& fonts, const Screen& screen, int contentWidth,
                  const Ruler& s)
{
    const int top = ProgressBand(s.dpi).top;
    FillRoundRect(dc, s(16), top, contentWidth, s(8), s(4), Palette::Track);
    const int progress = screen.progress;
    const int fill = contentWidth * progress / 100;
    if (progress > 0 && fill > 0) {
        FillRoundRect(dc, s(16), top, fill, s(8), s(4), Palette::Accent);
    }
    DrawTextIn(dc, ComposeProgressText(progress, screen.counterText, screen.speedText),
               {s(16), s(417), contentWidth + s(16), s(435)}, fonts.small.Get(),
               Palette::SecondaryText, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

// The keyboard focus: a ring around the control, clear of its edge.
void DrawFocusMark(HDC dc, RECT around, int corner, const Ruler& s)
{
    InflateRect(&around, s(3), s(3));
    DrawOutline(dc, around, corner, s(2), Palette::Focus);
}

void DrawButton(HDC dc, const Fonts& fonts, const ButtonFace& button, bool focused, const Ruler& s)
{
    const RECT& r = button.rect;
    const bool enabled = button.look.enabled;
    FillRoundRect(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, s(6),
                  ButtonFillColor(enabled, button.state, ToneColor(button.look.tone)));
    DrawTextIn(dc, button.look.text, r, fonts.button.Get(), enabled ? Palette::White : Palette::Neutral,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    if (focused && enabled) {
        DrawFocusMark(dc, r, s(10), s);
    }
}

void DrawFooter(HDC dc, const Fonts& fonts, const std::array<FooterLink, 2>& links,
                FocusStop focus, int clientHeight, const Ruler& s)
{
    const FocusStop stops[] = {FocusStop::FirstLink, FocusStop::SecondLink};
    for (size_t i = 0; i < links.size(); ++i) {
        const FooterLink& link = links[i];
        const COLORREF color = link.hovered ? Palette::LinkHover : Palette::AccentHover;
        DrawTextIn(dc, link.caption, link.rect, fonts.small.Get(), color,
                   DT_SINGLELINE | DT_VCENTER);
        if (link.hovered) {
            DrawLine(dc, link.rect.left, clientHeight - s(11), link.rect.right,
                     clientHeight - s(11), s(1), color);
        }
        if (focus == stops[i]) {
            DrawFocusMark(dc, link.rect, s(4), s);
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

    FillSolid(dc, client, Palette::Background);
    DrawHeader(dc, fonts, contentWidth, s);
    DrawTable(dc, fonts, frame.screen.rows, width, s);
    DrawStatus(dc, fonts, frame.screen.status, frame.statusAlert, width, s);
    if (frame.showProgress) {
        DrawProgress(dc, fonts, frame.screen, contentWidth, s);
    }

    DrawButton(dc, fonts, frame.start, frame.focus == FocusStop::StartButton, s);
    DrawButton(dc, fonts, frame.game, frame.focus == FocusStop::GameButton, s);
    DrawFooter(dc, fonts, frame.links, frame.focus, height, s);

    // Resize grip in the bottom-right corner.
    for (int k = 0; k < 3; ++k) {
        DrawLine(dc, width - s(4) + s(4) * k, height - s(18) + s(4) * k, width - s(18) + s(4) * k,
                 height - s(4) + s(4) * k, s(1), Palette::SecondaryText);
    }
}

}  // namespace Orvane
