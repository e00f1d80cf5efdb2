// DirectShow, structured-storage and property-page declarations, under their Windows names.
//
// Windows builds get mingw-w64's headers (not medparam.h, whose IMediaParams slot order is
// wrong: synth/media_params.h declares the media parameter interfaces for both platforms);
// elsewhere our own declarations (platform/posix/directshow.h) stand in, with the same methods
// in the same order. Code outside the platform layer includes this header only.
#pragma once

#include "platform/platform.h"

#if defined(_WIN32)
#include <control.h>
#include <evcode.h>
#include <mmreg.h>
#include <objidl.h>
#include <ocidl.h>
#include <strmif.h>
#include <uuids.h>
#include <vfwmsgs.h>
// ksmedia.h needs ks.h before it.
#include <ks.h>
#include <ksmedia.h>

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40);
#else
#include "platform/posix/directshow.h"
#endif

// Records that cross the boundary to hosts and to other filters.
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16);
static_assert(sizeof(PIN_INFO) == sizeof(void*) * 2 + 256);
