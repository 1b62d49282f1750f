// GBK to UTF-8, as the caller converts (titles are Chinese; JSON and Prometheus files are UTF-8).
#pragma once

#include <functional>
#include <string>
#include <string_view>

using Utf8Of = std::function<std::string(std::string_view gbk)>;
