// Host paths: the engine's cp932 paths with '\' or '/' turned into UTF-8 paths of this machine.
#pragma once
