#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"

std::uint8_t ConvertPDFToImages(const ImageConversion* conversion) {
    if (!conversion || conversion->sourceURL.empty() || conversion->outputFolderURL.empty()) return 0;

    ImageConverter converter;
    const ImageConversionOptions& options = conversion->conversionOptions;
    converter.SetPassword(options.password);
    if (!converter.OpenPDFDocument(conversion->sourceURL)) return 0;
    if (converter.IsDocumentEncrypted() && !converter.UnlockDocument()) return 0;

    converter.SetNamingOptions(conversion->outputBaseName, conversion->numberPagesFromRangeStart,
                               conversion->overwriteExistingFile);
    converter.SetPageRange(options.startPage, options.endPage, options.pageRangeType);
    converter.SetProgressCallback(conversion->progressCallback.progressTarget,
                                  conversion->progressCallback.progressSelector);
    converter.SetOutputOptions(options.imageType, conversion->outputFolderURL, options.compressionQuality);
    converter.SetResolution(options.outputResolution, options.outputResolution);
    converter.SetColorModel(options.colorModel);
    return converter.ConvertPages(conversion->resizeEnabled, conversion->resizeOptions);
}
