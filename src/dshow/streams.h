// The DirectShow base classes: one include for a filter built on them.
#pragma once

#include "dshow/allocator.h"
#include "dshow/base_filter.h"
#include "dshow/base_pin.h"
#include "dshow/com_ptr.h"
#include "dshow/critsec.h"
#include "dshow/enumerators.h"
#include "dshow/input_pin.h"
#include "dshow/media_type.h"
#include "dshow/output_pin.h"
#include "dshow/persist_stream.h"
#include "dshow/pos_pass_thru.h"
#include "dshow/setup.h"
#include "dshow/unknown.h"
#include "dshow/wide_text.h"
#include "platform/directshow.h"
