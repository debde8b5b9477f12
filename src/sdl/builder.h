// The scene builder: what the SDL grammar's actions call.
#pragma once
