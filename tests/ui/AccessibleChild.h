#pragma once

#include <windows.h>

#include <oleauto.h>

// A child id as a screen reader passes it to IAccessible (VT_I4; 0 is the
// object itself).
inline VARIANT AccessibleChild(long id)
{
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}
