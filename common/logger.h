#pragma once

// The logging header: the vocabulary (severities, attribute names, the four
// process-wide loggers, sink options and their helpers, VEMLA_LOG), the
// record formatter, the filters and the logger group that installs sinks.
// Code that only logs gets all of it from here.

#include "common/log_options.h"
#include "common/log_filters.h"
#include "common/log_formatter.h"
#include "common/logger_group.h"
