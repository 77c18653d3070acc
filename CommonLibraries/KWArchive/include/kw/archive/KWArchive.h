// The whole public interface of the archive library.
#pragma once

#include <kw/archive/Archive.h>
#include <kw/archive/ArchiveError.h>
#include <kw/archive/ArchiveLoader.h>
#include <kw/archive/ArchiveVisitor.h>
#include <kw/archive/Directory.h>
#include <kw/archive/File.h>
#include <kw/archive/Node.h>
