#include "ui/Painting.h"

#include "base/Version.h"
#include "ui/Palette.h"

namespace Orvane {

namespace {

constexpr wchar_t kDescription[] =
    L"本工具用于检测电脑环境, 提供诊断建议，优化游戏体验。和游戏下载更新服务，"
    L"登录游戏请采用登录器。";

HFONT MakeFont(int height, int weight)
{
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Microsoft YaHei UI");
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

void DrawLine(HDC dc, int x1, int y1, int x2, int y2, COLORREF color)
{
    PenHandle pen(CreatePen(PS_SOLID, 1, color));
    SelectedObject selectedPen(dc, pen.Get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

void DrawSeparator(HDC dc, int x, int top, int bottom)
{
    DrawLine(dc, x, top, x, bottom, Palette::Border);
}

void DrawTextIn(HDC dc, const std::wstring& text, RECT rect, HFONT font, COLORREF color,
                UINT flags)
{
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    SelectedObject selectedFont(dc, font);
    DrawTextW(dc, text.c_str(), -1, &rect, flags);
}

void DrawStatusDot(HDC dc, int cx, int cy, RowStatus status)
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
        Ellipse(dc, cx - 9, cy - 9, cx + 9, cy + 9);
    }
    PenHandle markPen(CreatePen(PS_SOLID, 2, Palette::White));
    SelectedObject selectedPen(dc, markPen.Get());
    if (status == RowStatus::Ok || status == RowStatus::Warning) {
        const POINT check[] = {{cx - 3, cy}, {cx, cy + 3}, {cx + 3, cy - 2}};
        Polyline(dc, check, 3);
    } else if (status == RowStatus::Failed) {
        MoveToEx(dc, cx - 3, cy - 3, nullptr);
        LineTo(dc, cx + 3, cy + 3);
        MoveToEx(dc, cx + 3, cy - 3, nullptr);
        LineTo(dc, cx - 3, cy + 3);
    }
}

void DrawHeader(HDC dc, const Fonts& fonts, int contentWidth)
{
    const UINT flags = DT_SINGLELINE | DT_VCENTER;
    DrawTextIn(dc, kWindowTitle, {16, 16, contentWidth - 44, 46}, fonts.title.Get(), Palette::PrimaryText,
               flags);
    DrawTextIn(dc, kVersionCaption, {16, 21, contentWidth + 16, 41}, fonts.small.Get(),
               Palette::SecondaryText, flags | DT_RIGHT);
    DrawTextIn(dc, kDescription, {16, 48, contentWidth + 16, 73}, fonts.description.Get(),
               Palette::SecondaryText, flags);
}

void DrawTable(HDC dc, const Fonts& fonts, const CheckRows& rows, int clientWidth)
{
    const int contentWidth = clientWidth - 32;
    const TableColumns col = ComputeTableColumns(clientWidth);
    const UINT flags = DT_SINGLELINE | DT_VCENTER;

    FillRoundRect(dc, 16, 88, contentWidth, 258, 8, Palette::Panel);
    FillSolid(dc, {26, 98, contentWidth + 6, 126}, Palette::HeaderRow);

    const HFONT header = fonts.header.Get();
    DrawTextIn(dc, L"检测项", {31, 98, 21 + col.c1, 126}, header, Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x1, 98, 126);
    DrawTextIn(dc, L"检测结果", {col.x1 + 5, 98, col.x1 + col.c2 - 5, 126}, header,
               Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x2, 98, 126);
    DrawTextIn(dc, L"推荐配置", {col.x2 + 5, 98, col.x2 + col.c3 - 5, 126}, header,
               Palette::SecondaryText, flags);
    DrawSeparator(dc, col.x3, 98, 126);
    DrawTextIn(dc, L"状态", {col.x3 + 2, 98, col.x3 + col.c4 - 2, 126}, header,
               Palette::SecondaryText, flags | DT_CENTER);
    DrawSeparator(dc, col.x4, 98, 126);
    DrawTextIn(dc, L"建议", {col.x4 + 5, 98, col.x4 + col.c5 - 5, 126}, header,
               Palette::SecondaryText, flags);

    for (size_t i = 0; i < rows.size(); ++i) {
        const CheckRow& row = rows[i];
        const int top = 126 + 30 * static_cast<int>(i);
        const int bottom = top + 30;
        FillSolid(dc, {26, top, contentWidth + 6, bottom},
                  i % 2 == 0 ? Palette::Panel : Palette::AlternateRow);

        DrawTextIn(dc, row.name, {31, top, 21 + col.c1, bottom}, fonts.text.Get(),
                   Palette::SecondaryText, flags);
        DrawSeparator(dc, col.x1, top, bottom);
        DrawTextIn(dc, row.result, {col.x1 + 5, top, col.x1 + col.c2 - 5, bottom}, fonts.text.Get(),
                   Palette::PrimaryText, flags);
        DrawSeparator(dc, col.x2, top, bottom);
        DrawTextIn(dc, row.recommended, {col.x2 + 5, top, col.x2 + col.c3 - 5, bottom},
                   fonts.small.Get(), Palette::SecondaryText, flags);
        DrawSeparator(dc, col.x3, top, bottom);
        DrawStatusDot(dc, col.x3 + col.c4 / 2, bottom - 15, row.status);
        DrawSeparator(dc, col.x4, top, bottom);

        const COLORREF adviceColor = row.status == RowStatus::Failed    ? Palette::Danger
                                     : row.status == RowStatus::Warning ? Palette::Warning
                                                                        : Palette::SecondaryText;
        DrawTextIn(dc, row.advice, {col.x4 + 5, top, col.x4 + col.c5 - 5, bottom},
                   fonts.small.Get(), adviceColor, DT_END_ELLIPSIS | flags);
    }
}

void DrawStatus(HDC dc, const Fonts& fonts, const std::wstring& statusText, bool alert,
                int contentWidth)
{
    FillRoundRect(dc, 16, 356, contentWidth, 40, 8, Palette::Panel);
    {
        PenHandle pen(CreatePen(PS_SOLID, 1, Palette::Border));
        SelectedObject selectedBrush(dc, GetStockObject(NULL_BRUSH));
        SelectedObject selectedPen(dc, pen.Get());
        RoundRect(dc, 16, 356, contentWidth + 16, 396, 8, 8);
    }
    DrawTextIn(dc, statusText, {28, 364, contentWidth + 4, 388}, fonts.text.Get(),
               alert ? Palette::Danger : Palette::PrimaryText,
               DT_END_ELLIPSIS | DT_SINGLELINE | DT_VCENTER);
}

void DrawProgress(HDC dc, const Fonts& fonts, const Screen& screen, int contentWidth)
{
    FillRoundRect(dc, 16, 406, contentWidth, 8, 4, Palette::Track);
    const int progress = screen.progress;
    const int fill = contentWidth * progress / 100;
    if (progress > 0 && fill > 0) {
        FillRoundRect(dc, 16, 406, fill, 8, 4, Palette::Accent);
    }
    DrawTextIn(dc, ComposeProgressText(progress, screen.counterText, screen.speedText),
               {16, 417, contentWidth + 16, 435}, fonts.small.Get(), Palette::SecondaryText,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

void DrawButton(HDC dc, const Fonts& fonts, const ButtonFace& button)
{
    const RECT& r = button.rect;
    const bool enabled = button.look.enabled;
    FillRoundRect(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 6,
                  ButtonFillColor(enabled, button.state, ToneColor(button.look.tone)));
    DrawTextIn(dc, button.look.text, r, fonts.button.Get(), enabled ? Palette::White : Palette::Neutral,
               DT_SINGLELINE | DT_VCENTER | DT_CENTER);
}

void DrawFooter(HDC dc, const Fonts& fonts, const std::array<FooterLink, 2>& links,
                int clientHeight)
{
    for (const FooterLink& link : links) {
        const COLORREF color = link.hovered ? Palette::LinkHover : Palette::AccentHover;
        DrawTextIn(dc, link.caption, link.rect, fonts.small.Get(), color,
                   DT_SINGLELINE | DT_VCENTER);
        if (link.hovered) {
            DrawLine(dc, link.rect.left, clientHeight - 11, link.rect.right, clientHeight - 11,
                     color);
        }
    }
}

}  // namespace

void Fonts::Create()
{
    title.Reset(MakeFont(18, 600));
    text.Reset(MakeFont(13, 400));
    small.Reset(MakeFont(11, 400));
    button.Reset(MakeFont(14, 400));
    description.Reset(MakeFont(11, 400));
    header.Reset(MakeFont(12, 600));
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
    const int contentWidth = width - 32;

    FillSolid(dc, client, Palette::Background);
    DrawHeader(dc, fonts, contentWidth);
    DrawTable(dc, fonts, frame.screen.rows, width);
    DrawStatus(dc, fonts, frame.screen.status, frame.statusAlert, contentWidth);
    if (frame.showProgress) {
        DrawProgress(dc, fonts, frame.screen, contentWidth);
    }

    DrawButton(dc, fonts, frame.start);
    DrawButton(dc, fonts, frame.game);
    DrawFooter(dc, fonts, frame.links, height);

    // Resize grip in the bottom-right corner.
    for (int k = 0; k < 3; ++k) {
        DrawLine(dc, width - 4 + 4 * k, height - 18 + 4 * k, width - 18 + 4 * k, height - 4 + 4 * k,
                 Palette::SecondaryText);
    }
}

}  // namespace Orvane
