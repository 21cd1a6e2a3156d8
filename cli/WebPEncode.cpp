#include "engine/images/webp/WebPTools.h"

int main(int argc, char** argv) { return EncoderToolMain(argc, argv); }
