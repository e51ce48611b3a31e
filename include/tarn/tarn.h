// Everything a host needs to embed the interpreter.
#pragma once

#include "tarn/convert.h"
#include "tarn/exports.h"
#include "tarn/host.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"
#include "tarn/value.h"
#include "tarn/version.h"
