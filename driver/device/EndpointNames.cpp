#include "EndpointNames.h"

namespace {

constexpr size_t kNameBytes = sizeof(WaveEndpoint::name);

bool Fits(NTSTATUS status)
{
    return status != STATUS_BUFFER_OVERFLOW;
}

PCWSTR OrEmpty(PCWSTR text)
{
    return text != nullptr ? text : u"";
}

}  // namespace

void NameDescribedEndpoint(WaveEndpoint* endpoint, PCWSTR product, PCWSTR endpointName)
{
    product = OrEmpty(product);
    endpointName = OrEmpty(endpointName);
    if (Fits(RtlStringCbPrintfW(endpoint->name, kNameBytes, u"%s %s %s", kMakerWord, product,
                                endpointName))) {
        return;
    }
    RtlStringCbPrintfW(endpoint->name, kNameBytes, u"%s %s", product, endpointName);
}

void NamePairEndpoint(WaveEndpoint* endpoint, PCWSTR product, bool capture, ULONG first, ULONG last)
{
    product = OrEmpty(product);
    const PCWSTR stereo = capture ? u"%s %s Stereo In %d-%d" : u"%s %s Stereo Out %d-%d";
    const PCWSTR shorter = capture ? u"%s %s In %d-%d" : u"%s %s Out %d-%d";
    const PCWSTR shortest = capture ? u"%s In %d-%d" : u"%s Out %d-%d";
    if (Fits(RtlStringCbPrintfW(endpoint->name, kNameBytes, stereo, kMakerWord, product, first,
                                last))) {
        return;
    }
    if (Fits(RtlStringCbPrintfW(endpoint->name, kNameBytes, shorter, kMakerWord, product, first,
                                last))) {
        return;
    }
    RtlStringCbPrintfW(endpoint->name, kNameBytes, shortest, product, first, last);
}

void NameMultichannelEndpoint(WaveEndpoint* endpoint, PCWSTR product, bool capture)
{
    product = OrEmpty(product);
    const PCWSTR full = capture ? u"%s %s Multichannel In" : u"%s %s Multichannel Out";
    const PCWSTR shorter = capture ? u"%s %s Multi In" : u"%s %s Multi Out";
    const PCWSTR shortest = capture ? u"%s Multi In" : u"%s Multi Out";
    if (Fits(RtlStringCbPrintfW(endpoint->name, kNameBytes, full, kMakerWord, product))) {
        return;
    }
    if (Fits(RtlStringCbPrintfW(endpoint->name, kNameBytes, shorter, kMakerWord, product))) {
        return;
    }
    RtlStringCbPrintfW(endpoint->name, kNameBytes, shortest, product);
}
