// The kinds of board a program upgrade file is written for, read from its tag.
#pragma once

enum class BoardKind { None, Main, Display, Fingerprint, PortableTC };
