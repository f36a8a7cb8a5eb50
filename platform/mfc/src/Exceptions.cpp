#include "mfc/Exceptions.h"

void AfxThrowResourceException()
{
    throw new CResourceException;
}
