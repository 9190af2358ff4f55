#pragma once
// GIO for code that also includes Qt: GIO names a struct member "signals", which Qt defines as a
// keyword.

#pragma push_macro("signals")
#undef signals
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#pragma pop_macro("signals")
