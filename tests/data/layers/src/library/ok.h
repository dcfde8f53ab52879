// A library header: reaches nothing above library/.
#pragma once
