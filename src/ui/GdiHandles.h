#pragma once

#include <windows.h>

#include "app/UniqueHandle.h"

namespace Orvane {

// Fonts, brushes, pens and bitmaps created by the window.
using FontHandle = UniqueHandle<NullHandleTraits<HFONT, DeleteObject>>;
using BrushHandle = UniqueHandle<NullHandleTraits<HBRUSH, DeleteObject>>;
using PenHandle = UniqueHandle<NullHandleTraits<HPEN, DeleteObject>>;
using BitmapHandle = UniqueHandle<NullHandleTraits<HBITMAP, DeleteObject>>;

// Memory device contexts from CreateCompatibleDC.
using MemoryDc = UniqueHandle<NullHandleTraits<HDC, DeleteDC>>;

// Selects an object into a device context for one scope and puts the previous
// one back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() { SelectObject(dc_, previous_); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace Orvane
