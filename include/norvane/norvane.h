// The host SDK of the Vantrel capture driver: include this one header.
#pragma once

#include "norvane/abi.h"
#include "norvane/capability.h"
#include "norvane/debug_info.h"
#include "norvane/exports.h"
#include "norvane/host.h"
#include "norvane/ipcapture.h"
