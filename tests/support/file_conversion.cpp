#include "tests/support/file_conversion.h"

#include <memory>

#include "convert/convert.h"
#include "tests/support/test_support.h"

std::string FileConversion::all() const {
  std::string text;
  for (const auto& line : lines) text += line;
  return text;
}

FileConversion convert_named(const std::string& source) {
  CapturedLog log;
  std::unique_ptr<PcmBatch> batch(new PcmBatch);
  ConversionSetup setup;
  setup.log = &log.pane;
  setup.batch = batch.get();
  FileConversion c;
  c.result = convert_file(source.c_str(), setup);
  c.lines = log.lines;
  return c;
}
