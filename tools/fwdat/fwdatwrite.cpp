// Writing a database file, apart from the format itself so that the fuzz
// targets link the reader without the file writer.
#include "front/atomicfile.h"
#include "fwdatfile.h"

namespace fwdat {

bool writeFile(const std::filesystem::path& file, std::span<const ModelRecord> models, std::string& error,
               bool replace) {
  auto out = tapsim::AtomicFile::create(file, error, replace ? tapsim::Existing::Replace : tapsim::Existing::Refuse);
  if (!out) return false;
  out->write(build(models));  // a failure is kept, and commit() reports it
  return out->commit(error);
}

bool writeFile(const std::filesystem::path& file, std::span<const ModelRecord> models) {
  std::string ignored;
  return writeFile(file, models, ignored);
}

}  // namespace fwdat
