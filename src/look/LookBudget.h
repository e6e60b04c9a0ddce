#pragma once

// The look server's bound on the memory it takes (LookBudget.cpp).
namespace LookBudget {

// After a look: whether the server should not be used again, as an allocation was refused during the
// look or what it holds now is more than a server kept for later looks should.
bool spent();

} // namespace LookBudget
