#pragma once

// Every class of the host framework.
#include "tqcore/analysisdoc.h"
#include "tqcore/assay.h"
#include "tqcore/assaytemplate.h"
#include "tqcore/blink.h"
#include "tqcore/counterdialog.h"
#include "tqcore/instrument.h"
#include "tqcore/instrumentplugin.h"
#include "tqcore/optionframe.h"
#include "tqcore/resource.h"
#include "tqcore/tqapp.h"
#include "tqcore/workbench.h"
#include "tqcore/worklist.h"
