#pragma once

#include "speech/text/readers/epub/epub_package.h"

#include <string>
#include <string_view>

namespace kestrova::speech::epub {

// The first file that META-INF/encryption.xml lists as encrypted by anything but font
// obfuscation (IDPF's or Adobe's, which only scramble embedded fonts): a book under DRM,
// which cannot be read. Empty: nothing is.
std::string encryptedEntryOf(std::string_view encryptionXml, const Refusal& fail);

} // namespace kestrova::speech::epub
