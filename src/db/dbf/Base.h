// What the engine takes from the base layer, under the names its interface
// uses: callers of the engine catch dbf::DbfError and hand it a dbf::Env.
#pragma once

#include "base/Codepage.h"
#include "base/Env.h"
#include "base/Error.h"

namespace klv::dbf {

using DbfError = base::Error;
using base::CodePage;
using base::Env;
using base::ErrorCode;
using base::Fail;
using base::File;
using base::OpenMode;

using base::BaseOf;
using base::DirOf;
using base::FilesStartingWith;
using base::FindFileNoCase;
using base::TodayHeaderDate;

}  // namespace klv::dbf
