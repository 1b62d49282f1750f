// Resource identifiers shared by app.rc and the code.
#pragma once

#define kAppIconId 1
