// The kernel-streaming access layer.
#pragma once

#include "kslib/ks_alloc.h"
#include "kslib/ks_aud_filter.h"
#include "kslib/ks_aud_pin.h"
#include "kslib/ks_enum_filters.h"
#include "kslib/ks_filter.h"
#include "kslib/ks_irp_target.h"
#include "kslib/ks_list.h"
#include "kslib/ks_node.h"
#include "kslib/ks_pin.h"
#include "kslib/ks_trace.h"
