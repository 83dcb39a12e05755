#include "ui/VarnelDlg.h"
