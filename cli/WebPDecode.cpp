#include "cli/ToolStart.h"
#include "engine/images/webp/WebPTools.h"

int main(int argc, char** argv) {
    StartWithHugePageBuffers(argv);
    return DecoderToolMain(argc, argv);
}
