// Includes the header TARN_PROBE_HEADER. Compiled with the include path of
// one layer, it builds only where that layer may use the header's layer.
#include TARN_PROBE_HEADER

int tarn_layering_probe = 0;
