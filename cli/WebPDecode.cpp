#include "engine/images/webp/WebPTools.h"

int main(int argc, char** argv) { return DecoderToolMain(argc, argv); }
