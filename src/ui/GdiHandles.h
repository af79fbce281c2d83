#pragma once

// The window's GDI handles (FontHandle, BrushHandle, PenHandle, BitmapHandle,
// MemoryDc) and the one GDI helper that is not a handle.
#include "base/Handles.h"

namespace Orvane {

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
