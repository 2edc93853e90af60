#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace modrin::model {

struct MeshVertex;
struct MeshTriangle;

// A directed side a -> b of a triangle, or of a constraint segment made ahead of its triangle.
struct MeshHalfEdge {
  MeshVertex* from = nullptr;
  MeshVertex* to = nullptr;
  MeshHalfEdge* twin = nullptr;      // the half-edge to -> from, when it exists
  MeshTriangle* triangle = nullptr;  // the owner; null for a half-edge made ahead of its triangle
  bool constrained = false;          // lies on a constraint segment
};

// The half-edges that start at one vertex, keyed by their end vertex and walked in the order of
// the end vertices' `index` (the mesh's vertex order; the enclosing corners come last).
class OutgoingHalfEdges {
 public:
  struct Entry {
    MeshVertex* to = nullptr;
    MeshHalfEdge* edge = nullptr;
    int index = 0;  // to->index, kept here so that searches need not visit the end vertex
  };

  // The half-edge to `to`, or null.
  MeshHalfEdge* Find(const MeshVertex* to) const;
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  friend class ObjectPhotoMesh;
  std::vector<Entry>::iterator Locate(const MeshVertex* to);
  void Insert(MeshHalfEdge* edge);
  void Erase(const MeshVertex* to);

  std::vector<Entry> entries_;  // a handful per vertex, so a sorted vector beats a tree
};

// The fields of a vertex to add. While the mesh is built, x and y are the pixel column and row
// in the photo and z is 0; afterwards x, y, z are the position's world coordinates.
struct MeshVertexRecord {
  double x = 0, y = 0, z = 0;
  double u = 0, v = 0;  // texture coordinates in the photo, in [0, 1], v up from the bottom row
};

// A mesh vertex: its fields and its place in the mesh.
struct MeshVertex : MeshVertexRecord {
  int index = 0;  // place in the mesh's `vertices`; the enclosing corners follow the last one
  OutgoingHalfEdges outgoing;
};

namespace detail {

// Storage with fixed addresses for the elements of a mesh. Chunks are kept when the pool is
// reset, so a mesh rebuilt on every model update allocates only when it grows. Elements handed
// out again keep their old contents for the owner to overwrite.
template <typename T>
class ElementPool {
 public:
  // A released element, else the next unused one. `fresh` tells which.
  T* Allocate(bool& fresh) {
    fresh = released_.empty();
    if (!fresh) {
      T* element = released_.back();
      released_.pop_back();
      return element;
    }
    if (used_ == chunks_.size() * kChunk) chunks_.push_back(std::make_unique<T[]>(kChunk));
    T* element = &chunks_[used_ / kChunk][used_ % kChunk];
    ++used_;
    return element;
  }
  void Release(T* element) { released_.push_back(element); }
  void Reset() {
    used_ = 0;
    released_.clear();
  }
  // Elements handed out since the last reset, released ones included.
  std::size_t used() const { return used_; }

 private:
  static constexpr std::size_t kChunk = 256;
  std::vector<std::unique_ptr<T[]>> chunks_;
  std::size_t used_ = 0;
  std::vector<T*> released_;
};

}  // namespace detail

// A triangle of three half-edges e0 = a -> b, e1 = b -> c, e2 = c -> a. The builder makes them
// counter-clockwise (positive area with x to the right and y up), or flat where points meet a
// side exactly. The normal belongs to the triangle, not to its corners: the faces of one mesh
// that meet at a corner need not lie in one plane.
struct MeshTriangle {
  // Corner k is edges[k]->from; the vertex opposite edges[k] is edges[(k + 1) % 3]->to.
  MeshVertex* Corner(int k) const { return edges[static_cast<std::size_t>(k)]->from; }

  // A number below the mesh's triangleSlots(), unique among its live triangles, for tables
  // kept beside the triangles.
  std::size_t slot() const { return slot_; }

  std::array<MeshHalfEdge*, 3> edges{};
  // Unit length, world axes, on the side the mesh's photo sees; set by the mesh builder once
  // the corners have their world coordinates, (0, 0, 0) until then.
  std::array<double, 3> normal{};

 private:
  friend class ObjectPhotoMesh;
  friend class MeshTriangleIterator;
  MeshTriangle* next_ = nullptr;  // the next triangle in the collection
  MeshTriangle* previous_ = nullptr;
  std::size_t slot_ = 0;
};

// Walks the triangles of a mesh in collection order: the most recently made first.
class MeshTriangleIterator {
 public:
  using value_type = MeshTriangle;
  using difference_type = std::ptrdiff_t;

  MeshTriangleIterator() = default;
  explicit MeshTriangleIterator(MeshTriangle* triangle) : triangle_(triangle) {}
  MeshTriangle& operator*() const { return *triangle_; }
  MeshTriangle* operator->() const { return triangle_; }
  MeshTriangleIterator& operator++() {
    triangle_ = triangle_->next_;
    return *this;
  }
  MeshTriangleIterator operator++(int) {
    MeshTriangleIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(const MeshTriangleIterator&, const MeshTriangleIterator&) = default;

 private:
  MeshTriangle* triangle_ = nullptr;
};

struct MeshTriangleRange {
  MeshTriangleIterator begin() const { return MeshTriangleIterator(first); }
  MeshTriangleIterator end() const { return MeshTriangleIterator(); }
  MeshTriangle* first = nullptr;
};

// The textured triangle mesh of one object in one photo, built in the photo's pixel plane by the
// mesh builder (modrin_mesh), which then moves every vertex to its world coordinates. The
// project keeps exactly one per object and photo. This class holds the data and keeps the
// half-edge links consistent; it does no geometry. References to vertices, half-edges and
// triangles stay valid until the element is destroyed or the mesh is cleared. Clearing keeps the
// memory for the next build.
class ObjectPhotoMesh {
 public:
  using Constraint = std::pair<MeshVertex*, MeshVertex*>;

  ObjectPhotoMesh() = default;
  ObjectPhotoMesh(const ObjectPhotoMesh&) = delete;
  ObjectPhotoMesh& operator=(const ObjectPhotoMesh&) = delete;
  ~ObjectPhotoMesh();

  // Destroys every triangle and half-edge, then every vertex, and empties the constraints.
  void Clear();
  // Inserts a vertex in ascending x, then ascending y (the order is kept when x and y change
  // later). Null, nothing added, when a vertex with the same x and y is present or x or y is not
  // finite.
  MeshVertex* AddVertex(const MeshVertexRecord& record);
  // Appends the constraint segment (a, b). Ignored unless a and b are distinct vertices of this
  // mesh's `vertices`.
  void AddSegment(MeshVertex* a, MeshVertex* b);

  // Read access, in order. The vertices' world coordinates are set once the mesh is built.
  std::span<MeshVertex* const> vertices() const;
  MeshTriangleRange triangles() const { return {storage_ ? storage_->newest : nullptr}; }
  std::size_t triangleCount() const { return storage_ ? storage_->triangleCount : 0; }
  std::size_t triangleSlots() const { return storage_ ? storage_->trianglePool.used() : 0; }
  const std::vector<Constraint>& constraints() const;

  // The corners of the enclosing triangle while a triangulation runs; null otherwise. They are
  // not among `vertices`.
  const std::array<MeshVertex*, 3>& enclosingCorners() const;
  void SetEnclosingCorners(const std::array<MeshVertexRecord, 3>& corners);
  // Destroys every half-edge at an enclosing corner and forgets the corners.
  void RemoveEnclosingCorners();

  // The half-edge a -> b, or null.
  static MeshHalfEdge* FindHalfEdge(const MeshVertex* a, const MeshVertex* b) {
    return a->outgoing.Find(b);
  }
  // The half-edge a -> b; a new one is entered in a's `outgoing`, linked to b -> a when that
  // exists and then copying its `constrained` flag.
  MeshHalfEdge* FindOrCreateHalfEdge(MeshVertex* a, MeshVertex* b);
  // Removes the half-edge from its start's `outgoing`, its twin's link and its triangle's slot.
  void DestroyHalfEdge(MeshHalfEdge* edge);
  // Destroys every half-edge that belongs to no triangle.
  void DestroyFreeHalfEdges();

  // The triangle (a, b, c), newest in the collection. Null, nothing changed, unless the corners
  // are distinct and no side a -> b, b -> c, c -> a already belongs to a triangle.
  MeshTriangle* MakeTriangle(MeshVertex* a, MeshVertex* b, MeshVertex* c);
  // Destroys the triangle and its three half-edges.
  void DestroyTriangle(MeshTriangle* triangle);
  // Destroys the triangle but leaves its half-edges, without a triangle, for the triangles made
  // next to take up: the same as destroying them and making them again, since a half-edge made
  // again takes the `constrained` flag of its twin, which always equals its own. The caller
  // destroys those left over.
  void DestroyTriangleKeepingSides(MeshTriangle* triangle);
  // Destroys every triangle and every half-edge; the vertices stay.
  void DestroyAllTriangles();

  // The building blocks of a triangulation that knows its half-edges, without searches.
  // A new half-edge a -> b, where none exists yet, linked to `twin` (b -> a, null when there is
  // none) and then copying its `constrained` flag.
  MeshHalfEdge* AddHalfEdge(MeshVertex* a, MeshVertex* b, MeshHalfEdge* twin);
  // The triangle on the half-edges ab, bc, ca, which belong to no triangle and run a -> b,
  // b -> c, c -> a; newest in the collection.
  MeshTriangle* MakeTriangleOnSides(MeshHalfEdge* ab, MeshHalfEdge* bc, MeshHalfEdge* ca);
  // Makes the existing `triangle` over as the triangle on ab, bc, ca (as MakeTriangleOnSides),
  // newest in the collection: what destroying it and making that triangle do. Its old sides
  // that no other triangle has taken up meanwhile are left without a triangle.
  void RemakeTriangle(MeshTriangle* triangle, MeshHalfEdge* ab, MeshHalfEdge* bc, MeshHalfEdge* ca);
  // Turns the half-edge `edge`, which belongs to no triangle, into a -> b (none must exist yet)
  // linked to `twin` as AddHalfEdge would: what destroying it and adding a -> b do.
  MeshHalfEdge* ReuseHalfEdge(MeshHalfEdge* edge, MeshVertex* a, MeshVertex* b, MeshHalfEdge* twin);
  // Destroys every triangle whose slot is set in `doomed` (indexed by slot), then every half-edge
  // that belongs to no triangle: what DestroyTriangle of each and then DestroyFreeHalfEdges
  // leave, in one pass over the half-edges.
  void DestroyTrianglesAndFreeHalfEdges(const std::vector<bool>& doomed);

 private:
  // Everything a mesh holds. A project keeps one mesh per object and photo, most of which stay
  // empty (an object is usually seen in a few photos), so the storage is made on first use and
  // an empty mesh costs one pointer.
  struct Storage {
    detail::ElementPool<MeshVertex> vertexPool;
    std::vector<MeshVertex*> vertices;
    std::vector<std::pair<double, double>> insertionKeys;  // (x, y) of vertices[i] when added
    std::vector<Constraint> constraints;

    std::array<MeshVertex, 3> enclosingStorage;
    std::array<MeshVertex*, 3> enclosingCorners{};

    detail::ElementPool<MeshHalfEdge> halfEdgePool;
    detail::ElementPool<MeshTriangle> trianglePool;
    MeshTriangle* newest = nullptr;
    std::size_t triangleCount = 0;
    std::size_t halfEdgesToCorners = 0;  // half-edges that end at an enclosing corner
  };

  Storage& storage();
  // A new half-edge a -> b, where none exists yet, linked to b -> a when that exists.
  MeshHalfEdge* CreateHalfEdge(MeshVertex* a, MeshVertex* b);
  // Fills the unlinked storage `edge` as a -> b linked to `twin` (when set): the common end of
  // AddHalfEdge and ReuseHalfEdge.
  MeshHalfEdge* LinkHalfEdge(MeshHalfEdge* edge, MeshVertex* a, MeshVertex* b, MeshHalfEdge* twin);
  void LinkTriangle(MeshTriangle* triangle);
  bool IsEnclosingCorner(const MeshVertex* vertex) const;
  void RenumberFrom(std::size_t first);
  void RefreshEntryIndices();

  std::unique_ptr<Storage> storage_;
};

}  // namespace modrin::model
