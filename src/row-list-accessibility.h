#pragma once

// Qt 5 leaves widgets placed over list items (QListWidget::setItemWidget) out of the accessibility
// tree, so screen readers cannot reach a row's texts or its buttons. This exposes the rows of the
// dock's lists as the list's accessible children. Install while the dock exists; remove before the
// module's code goes away (the factory is a function of this module).
void installRowListAccessibility();
void removeRowListAccessibility();
