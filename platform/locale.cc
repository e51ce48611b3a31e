// Placeholder: replaced by the US English locale data.
#include "platform/locale.h"
